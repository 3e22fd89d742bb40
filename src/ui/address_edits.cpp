#include "address_edits.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

namespace {

constexpr int kHexDigitsMax = 8;

bool IsDialogKey(int key) {
    return key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
           key == Qt::Key_Enter || key == Qt::Key_Escape;
}

bool IsHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

}  // namespace

bool UI_KeyTypesCharacter(const QKeyEvent& event) {
    if (IsDialogKey(event.key())) return false;
    if (event.key() == Qt::Key_Backspace) return true;
    for (QChar c : event.text()) {
        if (c.isPrint()) return true;
    }
    // Ctrl with a letter types a control character (Ctrl+V pastes through it).
    return (event.modifiers() & Qt::ControlModifier) && event.key() >= Qt::Key_A &&
           event.key() <= Qt::Key_Z;
}

void CHexEdit::keyPressEvent(QKeyEvent* event) {
    if (!UI_KeyTypesCharacter(*event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->key() == Qt::Key_Backspace) {
        backspace();
        return;
    }
    const QString typed = event->text();
    if (typed.size() != 1 || !IsHexDigit(typed.front())) return;
    if ((event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0) return;
    if (text().size() >= kHexDigitsMax) return;
    insert(typed.toUpper());
}

void CHexEdit::inputMethodEvent(QInputMethodEvent* event) {
    // Text composed by an input method arrives as typed characters: the same rule applies.
    const QString commit = event->commitString();
    event->accept();
    for (QChar c : commit) {
        if (IsHexDigit(c) && text().size() < kHexDigitsMax) insert(QString(c).toUpper());
    }
}

void CNoTypeEdit::keyPressEvent(QKeyEvent* event) {
    if (UI_KeyTypesCharacter(*event)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CNoTypeEdit::inputMethodEvent(QInputMethodEvent* event) {
    event->accept();
}
