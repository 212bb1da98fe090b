#include "pages/config/config_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include "app/skin.h"
#include "app/translate.h"
#include "controls/t_edit.h"
#include "controls/t_static.h"
#include "pages/devices/page_messages.h"

namespace fd {

void FillList(QComboBox* combo, const ListItems& items, int index) {
    const QSignalBlocker block(combo);
    combo->clear();
    for (const ListItem& item : items) {
        const QString text = QString::fromStdString(item.text);
        combo->addItem(item.literal ? text : Tr(text), item.value);
    }
    combo->setCurrentIndex(index < combo->count() ? index : -1);
}

int ListValue(const QComboBox* combo, int fallback) {
    const int i = combo->currentIndex();
    return i >= 0 ? combo->itemData(i).toInt() : fallback;
}

CTStatic* AddFieldLabel(QWidget* parent, const QString& key, int x, int y, int w) {
    auto* label = new CTStatic(key, parent);
    label->ApplyStaticSkin();
    label->setGeometry(x, y, w, 26);
    return label;
}

CTEdit* AddFieldEdit(QWidget* parent, int x, int y, int w, int maxLength, bool digitsOnly) {
    auto* edit = new CTEdit(parent);
    edit->setGeometry(x, y, w, 26);
    edit->setMaxLength(maxLength);
    if (digitsOnly) {
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    MarkUntranslated(edit);
    return edit;
}

void MakeAddressEdit(CTEdit* edit) {
    edit->setMaxLength(15);
    edit->SetRefusedChars(QStringLiteral(" "));
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,3}(\\.[0-9]{0,3}){0,3}")), edit));
}

QComboBox* AddFieldList(QWidget* parent, int x, int y, int w) {
    auto* combo = new QComboBox(parent);
    combo->setGeometry(x, y, w, 26);
    MarkUntranslated(combo);
    return combo;
}

QCheckBox* AddFieldCheck(QWidget* parent, const QString& key, int x, int y, int w) {
    auto* box = new QCheckBox(key, parent);
    box->setGeometry(x, y, w, 26);
    box->setFont(Skin().StaticFont());
    return box;
}

void ShowRuleFailure(QWidget* parent, const RuleFailure& failure) {
    // The text is translated already; looking it up again finds no key and keeps it.
    ShowPageMessage(
        parent, PageMessage{QMessageBox::Warning, QString::fromStdString(RuleFailureText(failure)),
                            QMessageBox::Ok, failure.appCaption});
}

}  // namespace fd
