#pragma once
// The waiting dialog after reboot and factory-reset commands: a progress bar that runs for
// the given time and, when asked, searches again for the devices coming back.

#include <QTimer>
#include <memory>

#include "controls/t_dialog.h"
#include "actions/wait_progress.h"

class QProgressBar;
class CTButtonPicture;
class CTStatic;

class CWaitDlg : public CTDialog {
    Q_OBJECT
public:
    // searcher may be null; then no search is made whatever `search` says.
    CWaitDlg(int seconds, bool search, int searchCount, fd::IWaitSearcher* searcher,
             QWidget* parent = nullptr);

    // What the dialog waits for, one language key per use; the page that opens the dialog
    // gives its own (SetText) and may pass any other key.
    // lang-keys:begin
    static constexpr const char* kPleaseWaitKey = "Please wait...";
    static constexpr const char* kRestartingKey = "The devices are restarting, please wait...";
    static constexpr const char* kResettingKey =
        "The devices are going back to their factory settings, please wait...";
    static constexpr const char* kApplyingKey = "Applying the settings, please wait...";
    static constexpr const char* kUpgradingKey = "Upgrading the devices, please wait...";
    // lang-keys:end
    // Shows the translation of key above the progress bar.
    void SetText(const QString& key);
    QString Text() const;
    CTStatic* TextLabel() const { return m_text; }

    const fd::WaitProgress& Progress() const { return m_progress; }
    QProgressBar* ProgressBar() const { return m_bar; }
    // One timer tick (every 500 ms while shown); tests call it directly.
    void OnTick();

protected:
    void showEvent(QShowEvent* e) override;

private:
    fd::WaitProgress m_progress;
    QProgressBar* m_bar;
    CTStatic* m_text;
    CTButtonPicture* m_close;
    QTimer m_timer;
};
