#include "controls/wait_dlg.h"

#include <QProgressBar>

#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_button_picture.h"
#include "controls/t_static.h"

CWaitDlg::CWaitDlg(int seconds, bool search, int searchCount, fd::IWaitSearcher* searcher,
                   QWidget* parent)
    : CTDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_progress(seconds, search, searchCount, searcher),
      m_bar(new QProgressBar(this)),
      m_text(new CTStatic(this)),
      m_close(new CTButtonPicture(this)) {
    constexpr int kW = 420, kH = 110;
    setModal(true);
    resize(kW, kH);
    setWindowTitle(QString::fromLatin1(kPleaseWaitKey));
    SetDraggable(true);
    SetFillBk(true);
    SetBkColor(QColor(242, 242, 242));
    SetLineColor(fd::Skin().lineColor);
    AddLine(0, 0, kW - 1, 0);
    AddLine(0, kH - 1, kW - 1, kH - 1);
    AddLine(0, 0, 0, kH - 1);
    AddLine(kW - 1, 0, kW - 1, kH - 1);
    m_text->ApplyStaticSkin();
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_text->setGeometry(24, 10, kW - 64, 44);
    fd::MarkUntranslated(m_text);  // set translated by SetText
    SetText(QString::fromLatin1(kPleaseWaitKey));
    m_close->SetImage(fd::Skin().Image(QStringLiteral("close_wait.bmp")));
    m_close->setGeometry(width() - 26, 6, 20, 20);
    connect(m_close, &QAbstractButton::clicked, this, &QDialog::reject);
    m_bar->setGeometry(24, 66, kW - 48, 20);
    m_bar->setRange(0, m_progress.Duration());
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &CWaitDlg::OnTick);
    fd::TranslateDialog(this);
}

void CWaitDlg::SetText(const QString& key) {
    m_text->setText(fd::Tr(key));
}

QString CWaitDlg::Text() const {
    return m_text->text();
}

void CWaitDlg::showEvent(QShowEvent* e) {
    CTDialog::showEvent(e);
    if (!m_timer.isActive() && !m_progress.Finished()) m_timer.start();
}

void CWaitDlg::OnTick() {
    const bool done = m_progress.Tick();
    m_bar->setValue(m_progress.Position());
    if (done) {
        m_timer.stop();
        accept();
    }
}
