#pragma once
// Translation of windows through the language file: captions and control texts are the
// English keys, looked up once per window right after the window has its final texts.

#include <QString>

class QComboBox;
class QLocale;
class QMenu;
class QObject;
class QTranslator;
class QWidget;

namespace fd {

// GetLangText for Qt texts.
QString Tr(const QString& key);
QString Tr(const char* key);

// Caption and every descendant control, once per widget for the life of the widget.
// Controls that hold data (edits, lists, tables, trees, date/time, progress, spin and
// address edits) keep their texts; so does any text "...".
void TranslateDialog(QWidget* dialog);
// Every item in place; the selected index is kept.
void TranslateComboBox(QComboBox* combo);
// Every item, submenus included; separators are skipped.
void TranslateMenu(QMenu* menu);

// Marks a widget whose text is data (an address edit, for instance) so that TranslateDialog
// leaves it and everything inside it alone.
void MarkUntranslated(QWidget* widget);

// Qt's own texts (message box buttons, the file dialog, the edit menus of text boxes) in
// the language of locale, installed in the application; the translator belongs to owner.
// Null when Qt has no translation for that language.
QTranslator* InstallQtTranslations(const QLocale& locale, QObject* owner);

}  // namespace fd
