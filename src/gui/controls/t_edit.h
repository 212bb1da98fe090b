#pragma once
// An edit box that filters what is typed: an input class (0 any, 1 digits, 2 letters,
// 3 letters and digits), a set of refused characters, and optionally no context menu.

#include <QLineEdit>
#include <string>

class CTEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CTEdit(QWidget* parent = nullptr);

    void SetInputClass(int inputClass) { m_inputClass = inputClass; }
    void SetRefusedChars(const QString& chars) { m_refused = chars.toStdString(); }
    void SetNoMenu(bool on);

    int InputClass() const { return m_inputClass; }

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    int m_inputClass = 0;
    std::string m_refused;
};
