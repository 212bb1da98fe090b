#include "app/translate.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QSet>
#include <QTranslator>
#include <QWidget>

#include "config/language.h"

namespace fd {

namespace {

constexpr const char* kNoTranslate = "fdNoTranslate";

// Widgets already translated. An entry goes when its widget is destroyed, so that a new
// widget created at the same address is translated again.
QSet<QObject*>& Translated() {
    static QSet<QObject*> set;
    return set;
}

bool MarkTranslated(QObject* obj) {
    QSet<QObject*>& set = Translated();
    if (set.contains(obj)) return false;
    set.insert(obj);
    QObject::connect(obj, &QObject::destroyed, [](QObject* o) { Translated().remove(o); });
    return true;
}

bool HoldsData(const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) != nullptr ||
           qobject_cast<const QAbstractItemView*>(w) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(w) != nullptr ||  // date/time edits too
           qobject_cast<const QProgressBar*>(w) != nullptr || w->property(kNoTranslate).toBool();
}

// Looks a text up; an empty translation means "leave it".
bool Lookup(const QString& text, QString& out) {
    if (text.isEmpty() || text == QLatin1String("...")) return false;
    out = Tr(text);
    return !out.isEmpty() && out != text;
}

void TranslateControl(QWidget* w) {
    QString t;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        if (Lookup(b->text(), t)) b->setText(t);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        if (Lookup(l->text(), t)) l->setText(t);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        if (Lookup(g->title(), t)) g->setTitle(t);
    }
}

void TranslateChildren(QWidget* parent) {
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w == nullptr || w->isWindow()) continue;  // dialogs translate themselves
        if (!MarkTranslated(w)) continue;
        // Data controls and the insides of composite controls are left as they are.
        if (HoldsData(w)) continue;
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            TranslateComboBox(combo);
            continue;
        }
        TranslateControl(w);
        TranslateChildren(w);
    }
}

}  // namespace

QString Tr(const QString& key) {
    return QString::fromStdString(GetLangText(key.toStdString()));
}

QString Tr(const char* key) {
    if (key == nullptr) return {};
    return QString::fromStdString(GetLangText(key));
}

void TranslateDialog(QWidget* dialog) {
    if (dialog == nullptr || !MarkTranslated(dialog)) return;
    QString t;
    if (Lookup(dialog->windowTitle(), t)) dialog->setWindowTitle(t);
    TranslateChildren(dialog);
}

void TranslateComboBox(QComboBox* combo) {
    if (combo == nullptr) return;
    const int selected = combo->currentIndex();
    const QSignalBlocker block(combo);  // the selection does not really change
    for (int i = 0; i < combo->count(); ++i) {
        const QString text = combo->itemText(i);
        combo->setItemText(i, Tr(text));
    }
    if (selected >= 0 && selected < combo->count()) combo->setCurrentIndex(selected);
}

void TranslateMenu(QMenu* menu) {
    if (menu == nullptr) return;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        QString t;
        if (Lookup(a->text(), t)) a->setText(t);
        if (a->menu() != nullptr) TranslateMenu(a->menu());
    }
}

void MarkUntranslated(QWidget* widget) {
    if (widget != nullptr) widget->setProperty(kNoTranslate, true);
}

QTranslator* InstallQtTranslations(const QLocale& locale, QObject* owner) {
    auto* translator = new QTranslator(owner);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), dir) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

}  // namespace fd
