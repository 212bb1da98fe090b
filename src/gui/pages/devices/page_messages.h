#pragma once
// Every message box, modal dialog and web page the device pages open goes through here, so
// that one place decides how they are shown and tests can answer them without a user.

#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>

class QDialog;

namespace fd {

// The text is a language key; it is translated before it is shown.
struct PageMessage {
    QMessageBox::Icon icon = QMessageBox::Warning;
    QString key;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    bool appCaption = false;  // the application's name as caption instead of none
};

// Returns the button chosen.
using PageMessageHandler =
    std::function<QMessageBox::StandardButton(QWidget* parent, const PageMessage& message)>;

// Replaces how messages are shown (tests); an empty handler restores the real boxes.
void SetPageMessageHandler(PageMessageHandler handler);

// A validation message: exclamation icon, empty caption, OK.
void ShowPageWarning(QWidget* parent, const QString& key);
// An address-form message: exclamation icon, the application's caption, OK.
void ShowAddressWarning(QWidget* parent, const QString& key);
// Any message; the button chosen.
QMessageBox::StandardButton ShowPageMessage(QWidget* parent, const PageMessage& message);
// A confirmation: question icon, OK and Cancel. True only for OK.
bool AskPageConfirmation(QWidget* parent, const QString& key);

// Modal dialogs (the Set IP, Set Bridge, AirSlot and wait dialogs, and the message boxes
// above when no handler is set): exec() unless a runner is set; the runner gets the dialog
// and returns its result code (a message box's: the button chosen).
using PageDialogRunner = std::function<int(QDialog& dialog)>;
void SetPageDialogRunner(PageDialogRunner runner);
int RunPageDialog(QDialog& dialog);

// File dialogs, run like the dialogs above (the desktop's own where the platform offers
// one). The path chosen; empty when the user cancelled.
QString ChooseFileToOpen(QWidget* parent, const QString& filter);
QString ChooseFileToSave(QWidget* parent, const QString& caption, const QString& name,
                         const QString& filter);

// A device's web page in the system's browser, unless an opener is set.
using UrlOpener = std::function<void(const QUrl& url)>;
void SetUrlOpener(UrlOpener opener);
void OpenDeviceUrl(const QUrl& url);

}  // namespace fd
