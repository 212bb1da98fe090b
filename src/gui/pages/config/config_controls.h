#pragma once
// Small pieces the configuration pages share: drop-down lists filled from the core's item
// lists (texts translated here, values as item data), labelled fields on a fixed grid, and
// showing a refusal of a collect step.

#include <QString>

#include "rules/rule_failure.h"
#include "rules/wireless_settings.h"

class CTEdit;
class CTStatic;
class QCheckBox;
class QComboBox;
class QWidget;

namespace fd {

// Refills the list (translated texts, values as item data) and selects `index` (-1: none).
// Signals are blocked while it does so: a refill is not a user's choice.
void FillList(QComboBox* combo, const ListItems& items, int index);
// The value of the selected entry, or fallback when nothing is selected.
int ListValue(const QComboBox* combo, int fallback = 0);

// A label at (x, y), width w, height 26, in the skin's static look.
CTStatic* AddFieldLabel(QWidget* parent, const QString& key, int x, int y, int w);
// An edit at (x, y); maxLength characters; digitsOnly accepts only 0-9.
CTEdit* AddFieldEdit(QWidget* parent, int x, int y, int w, int maxLength, bool digitsOnly = false);
// Makes an edit an address box: at most 15 characters, only digits and dots (up to four
// groups of up to three digits). What it holds is read by the strict address reader on Save.
void MakeAddressEdit(CTEdit* edit);
QComboBox* AddFieldList(QWidget* parent, int x, int y, int w);
QCheckBox* AddFieldCheck(QWidget* parent, const QString& key, int x, int y, int w);

// The refusal as a message box: warning icon, the application's caption when the rule asks
// for it, the translated message (with its label and numbers).
void ShowRuleFailure(QWidget* parent, const RuleFailure& failure);

}  // namespace fd
