#pragma once
#include <QLabel>

#include <string_view>

class QBoxLayout;
class QDialog;
class QPushButton;
class QVBoxLayout;

// What the sheets share: their frame, their buttons, their headline and their small lines.
namespace SheetLook {

QString text(std::string_view utf8);

// The sheet at its fixed size, window-modal on its parent when it has one; its contents go in
// the column returned.
QVBoxLayout& column(QDialog& sheet, QSize size);
// "Cancel" (also Escape) and the sheet's action (the default, also Return) at the end of line.
QPushButton& addButtons(QDialog& sheet, QBoxLayout& line, const QString& action);

void headline(QLabel& label);
void secondary(QLabel& label);
// Small, by default in the secondary colour; with digits of one width for numbers in columns.
enum class Digits { proportional, monospaced };
enum class Tone { secondary, primary };
void caption(QLabel& label, Digits digits = Digits::proportional, Tone tone = Tone::secondary);
// The small type of captions, from the widget's own font.
QFont captionFont(const QFont& base, Digits digits = Digits::proportional);
// Orange, for what needs a look: readable on light and dark backgrounds.
QColor warning();

// A label kept to one line, shortened in the middle where it does not fit: file names.
class OneLine : public QLabel {
public:
    explicit OneLine(const QString& text);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace SheetLook
