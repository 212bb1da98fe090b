#include "pages/upgrade/upgrade_dlgs.h"

#include <QComboBox>
#include <QProgressBar>

#include "actions/file_server_control.h"
#include "app/app_context.h"
#include "app/skin.h"
#include "app/translate.h"
#include "config/labels.h"
#include "config/language.h"
#include "controls/grid_ctrl.h"
#include "controls/t_button_picture.h"
#include "controls/t_edit.h"
#include "controls/t_picture.h"
#include "controls/t_static.h"
#include "pages/devices/page_messages.h"

namespace fd {

namespace {

UpgradeFileServerFactory& ServerFactory() {
    static UpgradeFileServerFactory f;
    return f;
}
UpgradeFileChooser& FileChooser() {
    static UpgradeFileChooser c;
    return c;
}
int& TickMs() {
    static int ms = 1000;
    return ms;
}

using C = ColumnContent;
constexpr DeviceColumn kUpgradeColumns[] = {
    {"", 30, 1, C::Tick},
    {"Serial", 60, 1, C::Serial},
    {"Location", 120, 2, C::Location},
    {"Type", 80, 3, C::Type},
    {"IP", 132, 1, C::Ip},
    {"MAC", 132, 0, C::Mac},
    {"OperationMode", 106, 4, C::OperationMode},
    {"SSID", 140, 5, C::Ssid},
    {"Version", 140, 9, C::Version},
    {"Status", 80, 13, C::Status},
};

CTButtonPicture* Button(QWidget* parent, const QString& image, const QString& text, QRect r,
                        bool whiteText) {
    const GuiSkin& skin = Skin();
    auto* b = new CTButtonPicture(parent);
    b->SetImage(skin.Image(image));
    b->SetFontSpec(skin.fontName, skin.buttonFontHeight, skin.buttonFontWeight);
    const QColor text0 = whiteText ? QColor(255, 255, 255) : skin.buttonFontColor;
    b->SetTextColors(text0, QColor(255, 255, 255), QColor(153, 153, 153));
    b->SetAlign(256, r.height() - 4);
    b->setText(text);
    b->setGeometry(r);
    return b;
}

}  // namespace

void SetUpgradeFileServerFactory(UpgradeFileServerFactory factory) {
    ServerFactory() = std::move(factory);
}
void SetUpgradeFileChooser(UpgradeFileChooser chooser) {
    FileChooser() = std::move(chooser);
}
void SetUpgradeTickMs(int ms) {
    TickMs() = ms > 0 ? ms : 1000;
}

}  // namespace fd

CUpgradeConfigDlg::CUpgradeConfigDlg(std::vector<DeviceTarget> targets, fd::IDeviceEngine& engine,
                                     IDeviceStore& store, StatusSink showStatus, QWidget* parent)
    : CTDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_targets(std::move(targets)),
      m_server(fd::ServerFactory() ? fd::ServerFactory()()
                                   : std::make_unique<fd::CFileServerControl>()),
      m_showStatus(std::move(showStatus)),
      m_title(new CTStatic(QStringLiteral("Device upgrade"), this)),
      m_close(new CTButtonPicture(this)),
      m_model(new QComboBox(this)),
      m_path(new CTEdit(this)),
      m_scan(fd::Button(this, QStringLiteral("btn_config.bmp"), QStringLiteral("Scan"),
                        QRect(350, 102, 80, 28), false)),
      m_upgrade(fd::Button(this, QStringLiteral("config_btn.bmp"), QStringLiteral("Upgrade"),
                           QRect(180, 150, 100, 30), true)),
      m_phase(new CTStatic(QStringLiteral("Firmware upgrading progress"), this)),
      m_bar(new QProgressBar(this)) {
    const fd::GuiSkin& skin = fd::Skin();
    const QSize size(460, 250);
    setModal(true);
    resize(size);
    setWindowTitle(QStringLiteral("Device upgrade"));
    SetDraggable(true);
    SetFillBk(true);
    SetBkColor(skin.childBkColor);
    SetLineColor(skin.lineColor);
    AddLine(0, 0, size.width() - 1, 0);
    AddLine(0, size.height() - 1, size.width() - 1, size.height() - 1);
    AddLine(0, 0, 0, size.height() - 1);
    AddLine(size.width() - 1, 0, size.width() - 1, size.height() - 1);

    // The title strip in the grid header's colour.
    auto* strip = new QWidget(this);
    strip->setGeometry(1, 1, size.width() - 2, 35);
    strip->setAutoFillBackground(true);
    QPalette pal = strip->palette();
    pal.setColor(QPalette::Window, skin.gridTitleBkColor);
    strip->setPalette(pal);
    strip->lower();
    m_title->ApplyStaticSkin();
    QFont titleFont = skin.StaticFont();
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_title->SetBkColor(skin.gridTitleBkColor);
    m_title->setGeometry(14, 6, 300, 26);
    m_close->SetImage(skin.Image(QStringLiteral("close_config.bmp")));
    m_close->setGeometry(size.width() - 28, 8, 20, 20);
    auto* divider = new CTPicture(this);
    divider->Load(skin.Image(QStringLiteral("orange_line.bmp")));
    divider->setGeometry(1, 36, size.width() - 2, 2);

    auto* typeLabel = new CTStatic(QStringLiteral("Type"), this);
    typeLabel->ApplyStaticSkin();
    typeLabel->setGeometry(30, 60, 110, 26);
    m_model->setGeometry(150, 60, 280, 26);
    m_model->setFont(skin.StaticFont());
    fd::MarkUntranslated(m_model);
    auto* fileLabel = new CTStatic(QStringLiteral("ChooseFile"), this);
    fileLabel->ApplyStaticSkin();
    fileLabel->setGeometry(30, 103, 110, 26);
    m_path->setGeometry(150, 103, 190, 26);
    m_path->setReadOnly(true);
    fd::MarkUntranslated(m_path);

    m_phase->ApplyStaticSkin();
    m_phase->setGeometry(30, 192, 400, 22);
    m_phase->hide();
    m_bar->setGeometry(30, 218, 400, 14);
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->hide();

    // Each model once, in the order of the rows; the item keeps its code.
    for (const auto& [label, code] : fd::UpgradeModelChoices(m_targets))
        m_model->addItem(QString::fromStdString(label), code);
    m_model->setCurrentIndex(0);

    fd::CUpgradeSession::Hooks hooks;
    hooks.showStatus = [this](const std::string& mac, int status) {
        m_tally.Note(mac, status);
        if (m_showStatus) m_showStatus(mac, status);
    };
    hooks.closed = [this](bool confirmed) {
        m_timer.stop();
        if (confirmed) ReportFailedFetches();
        if (confirmed)
            accept();
        else
            reject();
    };
    hooks.phaseChanged = [this] { ShowPhase(); };
    m_session = std::make_unique<fd::CUpgradeSession>(engine, store, *m_server, hooks);

    m_timer.setInterval(fd::TickMs());
    connect(&m_timer, &QTimer::timeout, this, &CUpgradeConfigDlg::OnTick);
    connect(m_close, &QAbstractButton::clicked, this, &CUpgradeConfigDlg::OnClose);
    connect(m_scan, &QAbstractButton::clicked, this, &CUpgradeConfigDlg::OnBrowse);
    connect(m_upgrade, &QAbstractButton::clicked, this, &CUpgradeConfigDlg::OnUpgrade);
    fd::TranslateDialog(this);
}

CUpgradeConfigDlg::~CUpgradeConfigDlg() {
    m_timer.stop();
    // Leaving at any point ends the file server; the session's end does it too.
    m_session.reset();
    if (m_server) m_server->Stop();
}

void CUpgradeConfigDlg::SetImagePath(const QString& path) {
    m_fileName = fd::SplitImagePath(path.toStdString()).second;
    m_path->setText(path);
}

void CUpgradeConfigDlg::OnBrowse() {
    QString path;
    if (fd::FileChooser()) {
        path = fd::FileChooser()(this);
    } else {
        path = fd::ChooseFileToOpen(this, QStringLiteral("Files (*.bin);;All files (*)"));
    }
    if (!path.isEmpty()) SetImagePath(path);
}

void CUpgradeConfigDlg::OnUpgrade() {
    if (m_session->GetPhase() != fd::CUpgradeSession::Phase::Idle) return;
    const std::string path = m_path->text().toStdString();
    if (std::string key = fd::CheckUpgradeFilePath(path); !key.empty()) {
        fd::ShowPageWarning(this, QString::fromStdString(key));
        return;
    }
    // Said before the user confirms an upgrade that could not serve the image.
    if (std::string why = m_server->StartProblem(); !why.empty()) {
        fd::ShowPageWarning(this, QString::fromStdString(why));
        return;
    }
    if (!fd::AskPageConfirmation(this, QStringLiteral("Are you sure you want to upgrade?"))) return;
    const uint32_t size = fd::UpgradeImageSize(path);
    const int model = m_model->currentData().toInt();
    m_scan->setEnabled(false);
    m_upgrade->hide();
    m_bar->show();
    // The file server gets the file the path resolves to, alone, on the adapters that
    // reach these devices.
    m_session->Start(m_targets, model, path, fd::MakeUpgradeImageInfo(m_fileName, size),
                     fd::ReadAdapters());
    m_phase->show();
    m_timer.start();
}

void CUpgradeConfigDlg::ReportFailedFetches() {
    QStringList lines;
    for (const auto& t : m_session->WatchList()) {
        if (!m_tally.FetchFailed(t.mac)) continue;
        const auto verdict = m_tally.Judge(t.mac, true, fd::AP_STATUS_UPGRADE_FAIL, {},
                                           {m_server->Failure(), m_server->HeardFrom(t.ip)});
        lines << QStringLiteral("%1  %2  %3")
                     .arg(QString::fromLatin1(t.mac), QString::fromLatin1(t.ip),
                          QString::fromStdString(verdict.text));
    }
    if (lines.isEmpty()) return;
    // The Status column only says "Upgrade fail"; this says where it broke.
    fd::ShowPageWarning(this, lines.join(QLatin1Char('\n')));
}

void CUpgradeConfigDlg::ShowPhase() {
    m_phase->setText(QString::fromStdString(fd::GetLangText(m_session->PhaseText())));
    m_bar->setRange(0, m_session->ProgressMax());
    m_bar->setValue(m_session->ProgressPos());
}

void CUpgradeConfigDlg::OnTick() {
    m_session->Tick();
    if (m_session->GetPhase() == fd::CUpgradeSession::Phase::Closed) {
        m_scan->setEnabled(true);
        m_upgrade->show();
        return;
    }
    m_bar->setValue(m_session->ProgressPos());
}

void CUpgradeConfigDlg::OnClose() {
    m_timer.stop();
    if (m_session->GetPhase() == fd::CUpgradeSession::Phase::Closed) {
        reject();
        return;
    }
    m_session->Cancel();  // stops the file server; its end rejects the dialog
}

CUpgradeDlg::CUpgradeDlg(QWidget* parent)
    : CDeviceListPage(fd::kPageUpgrade, fd::kUpgradeColumns, parent),
      m_action(AddActionButton(QStringLiteral("Upgrade"), QStringLiteral("btn_search.bmp"), 950)) {
    // This page lists what the other pages found; it does not search itself (not by F5
    // either, which only works while the button is enabled).
    SearchButton()->hide();
    SearchButton()->setEnabled(false);
    connect(m_action, &QAbstractButton::clicked, this, &CUpgradeDlg::OnUpgrade);
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(1000);
    connect(&m_reloadTimer, &QTimer::timeout, this, &CUpgradeDlg::ReloadCurrentPage);
    fd::TranslateDialog(this);
}

void CUpgradeDlg::OnUpgrade() {
    fd::SelectionResult sel = CollectSelection(fd::BulkAction::AllTicked);
    if (!sel.ok()) return;
    if (sel.devices.size() > static_cast<std::size_t>(kMaxDevices)) {
        fd::ShowPageWarning(this, QStringLiteral("Maximum selection of 10 devices!"));
        return;
    }
    m_targets.clear();
    for (const auto& d : sel.devices) {
        DeviceTarget t{};
        std::snprintf(t.ip, sizeof t.ip, "%s", d.ip.c_str());
        std::snprintf(t.mac, sizeof t.mac, "%s", d.mac.c_str());
        t.ap_type = d.modelCode;
        m_targets.push_back(t);
    }
    {
        CUpgradeConfigDlg dlg(
            m_targets, Engine(), StoreOrEmpty(),
            [this](const std::string& mac, int status) { ShowStatus(mac, status); }, this);
        fd::RunPageDialog(dlg);
    }
    // Whatever the dialog's end: fresh answers, and the page shows them a second later.
    Engine().SendSearch();
    m_reloadTimer.start();
}

void CUpgradeDlg::ShowStatus(const std::string& mac, int status) {
    const int col = List().ColumnOf(fd::ColumnContent::Status);
    const int row = RowOfMac(mac);
    if (col < 0 || row < 0) return;
    Grid()->SetItemText(row, col, QString::fromStdString(fd::GetStatusLabel(status)));
}
