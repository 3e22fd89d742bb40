#pragma once
// The address edits of the main dialog. Both filter what is typed before it reaches the edit;
// keys that type nothing (arrows, Delete, Home, End) and the context menu act as usual.
#include <QLineEdit>

// Hexadecimal address: a hex digit is taken (as upper case) only while the text holds fewer
// than 8 characters; backspace always works; every other typed character is dropped.
class CHexEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CHexEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
};

// The code address: set by the program only; every typed character is swallowed.
class CNoTypeEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CNoTypeEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
};

// True when the key would type a character into an edit (printable text, backspace, or a
// control-key combination such as Ctrl+V), as opposed to a key that only moves or deletes.
// Tab, Enter and Escape belong to the dialog and are never counted as typed.
bool UI_KeyTypesCharacter(const QKeyEvent& event);
