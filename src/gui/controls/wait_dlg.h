#pragma once
// The waiting dialog after reboot and factory-reset commands: a progress bar that runs for
// the given time and, when asked, searches again for the devices coming back.

#include <QTimer>
#include <memory>

#include "controls/t_dialog.h"
#include "actions/wait_progress.h"

class QProgressBar;
class CTButtonPicture;

class CWaitDlg : public CTDialog {
    Q_OBJECT
public:
    // searcher may be null; then no search is made whatever `search` says.
    CWaitDlg(int seconds, bool search, int searchCount, fd::IWaitSearcher* searcher,
             QWidget* parent = nullptr);

    const fd::WaitProgress& Progress() const { return m_progress; }
    QProgressBar* ProgressBar() const { return m_bar; }
    // One timer tick (every 500 ms while shown); tests call it directly.
    void OnTick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    fd::WaitProgress m_progress;
    QProgressBar* m_bar;
    CTButtonPicture* m_close;
    QTimer m_timer;
};
