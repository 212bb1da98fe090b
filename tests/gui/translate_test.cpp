#include "app/translate.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTranslator>

#include "config/language.h"
#include "pages/devices/page_messages.h"

namespace {

class TranslateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        QDir(s_dir->path()).mkpath("Languages");
        QFile f(s_dir->path() + "/Languages/Test.lng");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(
            "[ProgramOutStr]\n"
            "Device status=Geraetestatus\n"
            "Alpha=Beta\n"
            "Beta=Gamma\n"
            "Caption=Titel\n"
            "One=Eins\n"
            "Two=Zwei\n"
            "Three=Drei\n"
            "Show Utility=Anzeigen\n"
            "Exit=Beenden\n"
            "Tools=Werkzeuge\n"
            "Ping=Pingen\n"
            "Hidden=[~NullInfoChrys~]\n");
        f.close();
        fd::InitLanguage((s_dir->path() + "/").toStdString());
        fd::SetLanguage("Test");
    }
    static void TearDownTestSuite() {
        fd::SetLanguage("English");
        delete s_dir;
    }
    static QTemporaryDir* s_dir;
};
QTemporaryDir* TranslateTest::s_dir = nullptr;

TEST_F(TranslateTest, CaptionsAndControlsButNotData) {
    QDialog dlg;
    dlg.setWindowTitle("Caption");
    auto* label = new QLabel("Device status", &dlg);
    auto* dots = new QPushButton("...", &dlg);
    auto* edit = new QLineEdit("Device status", &dlg);
    auto* when = new QDateTimeEdit(&dlg);
    auto* progress = new QProgressBar(&dlg);
    auto* table = new QTableWidget(1, 1, &dlg);
    table->setItem(0, 0, new QTableWidgetItem("Device status"));
    auto* hidden = new QLabel("Hidden", &dlg);
    auto* inner = new QWidget(&dlg);
    auto* nested = new QPushButton("Alpha", inner);
    auto* address = new QLabel("Alpha", &dlg);  // stands for an address edit
    fd::MarkUntranslated(address);
    const QString whenText = when->text();

    fd::TranslateDialog(&dlg);
    EXPECT_EQ(dlg.windowTitle(), "Titel");
    EXPECT_EQ(label->text(), "Geraetestatus");
    EXPECT_EQ(dots->text(), "...");
    EXPECT_EQ(edit->text(), "Device status");
    EXPECT_EQ(when->text(), whenText);
    EXPECT_EQ(table->item(0, 0)->text(), "Device status");
    EXPECT_EQ(nested->text(), "Beta");
    EXPECT_EQ(address->text(), "Alpha");
    // An empty translation leaves the control as it is.
    EXPECT_EQ(hidden->text(), "Hidden");
    (void)progress;
}

TEST_F(TranslateTest, SecondCallChangesNothing) {
    QDialog dlg;
    auto* button = new QPushButton("Alpha", &dlg);
    fd::TranslateDialog(&dlg);
    EXPECT_EQ(button->text(), "Beta");
    fd::TranslateDialog(&dlg);  // "Beta" would become "Gamma" if translated again
    EXPECT_EQ(button->text(), "Beta");
    // A control added later is translated on the next call; the old ones stay.
    auto* late = new QPushButton("Alpha", &dlg);
    fd::TranslateDialog(&dlg);
    EXPECT_EQ(late->text(), "Alpha");  // the dialog itself is done: nothing is visited
    EXPECT_EQ(button->text(), "Beta");
}

TEST_F(TranslateTest, AWidgetAtAReusedAddressIsTranslatedAgain) {
    // Destroyed widgets leave the translated set, so a new one is not skipped by accident.
    for (int i = 0; i < 20; ++i) {
        auto* dlg = new QDialog;
        auto* b = new QPushButton("Alpha", dlg);
        fd::TranslateDialog(dlg);
        ASSERT_EQ(b->text(), "Beta") << i;
        delete dlg;
    }
}

TEST_F(TranslateTest, ComboKeepsSelectionAndItemData) {
    QDialog dlg;
    auto* combo = new QComboBox(&dlg);
    combo->addItem("One", 15);
    combo->addItem("Two", 30);
    combo->addItem("Three", 50);
    combo->setCurrentIndex(2);
    int changes = 0;
    QObject::connect(combo, &QComboBox::currentIndexChanged, [&] { ++changes; });
    fd::TranslateDialog(&dlg);
    EXPECT_EQ(combo->itemText(0), "Eins");
    EXPECT_EQ(combo->itemText(2), "Drei");
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_EQ(combo->itemData(1).toInt(), 30);
    EXPECT_EQ(changes, 0);
}

TEST_F(TranslateTest, MenusWithSubmenusAndSeparators) {
    QMenu menu;
    menu.addAction("Show Utility");
    menu.addSeparator();
    QMenu* sub = menu.addMenu("Tools");
    sub->addAction("Ping");
    menu.addAction("Exit");
    fd::TranslateMenu(&menu);
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), "Anzeigen");
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "Werkzeuge");
    EXPECT_EQ(sub->actions()[0]->text(), "Pingen");
    EXPECT_EQ(actions[3]->text(), "Beenden");
}

TEST(QtTranslations, MessageBoxButtonsSpeakChineseOnAChineseSystem) {
    // Qt's own texts (OK, Cancel, the file dialog) come from Qt's translation files, which
    // the set-up installs; without them a Chinese program shows English buttons.
    QObject owner;
    QTranslator* zh = fd::InstallQtTranslations(QLocale(QLocale::Chinese, QLocale::China), &owner);
    ASSERT_NE(zh, nullptr) << "Qt translations missing (Debian package qt6-translations-l10n)";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("取消"));
    QMessageBox box(QMessageBox::Question, QString(), "?", QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8("取消"));
    delete zh;  // taken out of the application again
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    // A language Qt has no file for installs nothing.
    EXPECT_EQ(fd::InstallQtTranslations(QLocale(QLocale::Esperanto), &owner), nullptr);
}

TEST(PageMessages, AddressMessagesCarryTheProductCaptionNotTheProgramName) {
    QString caption = "not shown";
    QString text;
    // The box is modal: read it and close it from the event loop it runs.
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    fd::ShowAddressWarning(nullptr, "The ip address is invalid!");
    EXPECT_EQ(caption, fd::Tr("CPEManagement"));
    EXPECT_NE(caption.toLower(), QCoreApplication::applicationName().toLower());
    EXPECT_EQ(text, "The ip address is invalid!");
}

}  // namespace
