#include "controls/t_edit.h"

#include <QKeyEvent>

#include "presentation/skin_controls.h"

CTEdit::CTEdit(QWidget* parent) : QLineEdit(parent) {}

void CTEdit::SetNoMenu(bool on) {
    setContextMenuPolicy(on ? Qt::NoContextMenu : Qt::DefaultContextMenu);
}

void CTEdit::keyPressEvent(QKeyEvent* e) {
    const QString text = e->text();
    if (!text.isEmpty() && e->matches(QKeySequence::Paste) == false &&
        !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        for (char32_t ch : text.toUcs4()) {
            if (!fd::EditAcceptsChar(m_inputClass, m_refused, ch)) {
                e->accept();  // dropped
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(e);
}
