#include "pages/devices/page_messages.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>

#include "app/translate.h"

namespace fd {

namespace {
PageMessageHandler& Handler() {
    static PageMessageHandler handler;
    return handler;
}

PageDialogRunner& DialogRunner() {
    static PageDialogRunner runner;
    return runner;
}
UrlOpener& Opener() {
    static UrlOpener opener;
    return opener;
}

QMessageBox::StandardButton Show(QWidget* parent, const PageMessage& m) {
    if (Handler()) return Handler()(parent, m);
    // The product's caption, as the main window's title has it.
    const QString caption = m.appCaption ? Tr("CPEManagement") : QString();
    QMessageBox box(m.icon, caption, Tr(m.key), m.buttons, parent);
    // Run like every other dialog of the pages, so that whatever looks at those sees these.
    return static_cast<QMessageBox::StandardButton>(RunPageDialog(box));
}
}  // namespace

void SetPageMessageHandler(PageMessageHandler handler) {
    Handler() = std::move(handler);
}

void ShowPageWarning(QWidget* parent, const QString& key) {
    Show(parent, PageMessage{QMessageBox::Warning, key, QMessageBox::Ok});
}

void ShowAddressWarning(QWidget* parent, const QString& key) {
    Show(parent, PageMessage{QMessageBox::Warning, key, QMessageBox::Ok, true});
}

QMessageBox::StandardButton ShowPageMessage(QWidget* parent, const PageMessage& message) {
    return Show(parent, message);
}

bool AskPageConfirmation(QWidget* parent, const QString& key) {
    return Show(parent, PageMessage{QMessageBox::Question, key,
                                    QMessageBox::Ok | QMessageBox::Cancel}) == QMessageBox::Ok;
}

void SetPageDialogRunner(PageDialogRunner runner) {
    DialogRunner() = std::move(runner);
}

int RunPageDialog(QDialog& dialog) {
    if (DialogRunner()) return DialogRunner()(dialog);
    return dialog.exec();
}

namespace {
QString RunFileDialog(QFileDialog& dialog) {
    if (RunPageDialog(dialog) != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}
}  // namespace

QString ChooseFileToOpen(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly);
    return RunFileDialog(dialog);
}

QString ChooseFileToSave(QWidget* parent, const QString& caption, const QString& name,
                         const QString& filter) {
    QFileDialog dialog(parent, caption, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(name);
    return RunFileDialog(dialog);
}

void SetUrlOpener(UrlOpener opener) {
    Opener() = std::move(opener);
}

void OpenDeviceUrl(const QUrl& url) {
    if (Opener()) {
        Opener()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

}  // namespace fd
