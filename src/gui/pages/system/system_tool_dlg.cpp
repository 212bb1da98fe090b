#include "pages/system/system_tool_dlg.h"

#include <algorithm>
#include <cstring>

#include "app/app_context.h"
#include "app/skin.h"
#include "app/translate.h"
#include "config/language.h"
#include "controls/grid_ctrl.h"
#include "controls/t_static.h"
#include "wire/address.h"

namespace fd {

namespace {
// Texts from the adapter record are fixed buffers; never read past them even when the
// terminating zero is missing.
QString BoundedText(const char* text, size_t size) {
    return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, size)));
}
}  // namespace

QString AdapterIpText(const LocalAdapterInfo& adapter) {
    QStringList ips;
    const int count = std::clamp(adapter.ip_count, 0, kMaxAdapterAddresses);
    for (int i = 0; i < count; ++i) {
        ips << BoundedText(adapter.addrs[i].ip, sizeof adapter.addrs[i].ip);
    }
    return ips.join(QStringLiteral("--"));
}

QString AdapterMacText(const LocalAdapterInfo& a) {
    return QString::fromStdString(fd::MacToText(a.hw_addr));
}

QString FormatCount(const QString& format, int value) {
    QString out = format;
    const qsizetype at = out.indexOf(QLatin1String("%d"));
    if (at >= 0) out.replace(at, 2, QString::number(value));
    return out;
}

}  // namespace fd

CSystemToolDlg::CSystemToolDlg(QWidget* parent)
    : CChildPage(fd::kPageSystemTool, parent),
      m_title(new CTStatic(QStringLiteral("System tool"), this)),
      m_count(new CTStatic(this)),
      m_grid(new CGridCtrl(this)) {
    const fd::GuiSkin& skin = fd::Skin();
    resize(1070, 694);
    m_title->ApplyStaticSkin();
    QFont titleFont = skin.StaticFont();
    titleFont.setBold(true);
    titleFont.setPixelSize(titleFont.pixelSize() + 3);
    m_title->setFont(titleFont);
    m_title->setGeometry(20, 12, 600, 26);
    SetLineColor(skin.lineColor);

    m_count->ApplyStaticSkin();
    m_count->resize(400, 24);
    m_count->setText(fd::FormatCount(fd::Tr("Adapter count:%d"), 0));

    m_grid->SetColumnCount(4);
    m_grid->SetRowCount(1);
    const char* headers[] = {"ID", "Description", "MAC", "IP"};
    const int widths[] = {60, 400, 140, 400};
    for (int c = 0; c < 4; ++c) {
        m_grid->SetItemText(0, c, fd::Tr(headers[c]));
        m_grid->SetColumnWidth(c, widths[c]);
    }
    fd::TranslateDialog(this);
    FillGrid();
    m_timer.setInterval(5000);
    connect(&m_timer, &QTimer::timeout, this, &CSystemToolDlg::FillGrid);
    m_timer.start();
}

void CSystemToolDlg::resizeEvent(QResizeEvent* e) {
    CChildPage::resizeEvent(e);
    // The list takes the page's size; the count stays under it.
    ClearLines();
    AddLine(20, 44, width() - 20, 44);
    m_grid->setGeometry(20, 56, width() - 40, height() - 108);
    m_count->move(20, height() - 40);
}

void CSystemToolDlg::FillGrid() {
    const std::vector<LocalAdapterInfo> adapters = fd::ReadAdapters();
    const int rows = static_cast<int>(adapters.size());
    m_grid->SetRowCount(rows + 1);
    for (int n = 1; n <= rows; ++n) {
        const LocalAdapterInfo& a = adapters[static_cast<size_t>(n - 1)];
        m_grid->SetItemText(n, 0, QString::number(n));
        QString description = QString::fromUtf8(
            a.description, static_cast<qsizetype>(strnlen(a.description, sizeof a.description)));
        // Listed so that a pulled cable shows; nothing is searched or sent through it.
        if (a.unplugged)
            description += QStringLiteral(" (%1)").arg(
                QString::fromStdString(fd::GetLangText("Cable unplugged or no link")));
        m_grid->SetItemText(n, 1, description);
        m_grid->SetItemText(n, 2, fd::AdapterMacText(a));
        m_grid->SetItemText(n, 3, fd::AdapterIpText(a));
    }
    m_count->setText(fd::FormatCount(fd::Tr("Adapter count:%d"), rows));
}
