#include "app/Desktop/SheetLook.h"

#include <QDialog>
#include <QFontDatabase>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

QString SheetLook::text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

QVBoxLayout& SheetLook::column(QDialog& sheet, QSize size) {
    if (sheet.parentWidget()) sheet.setWindowModality(Qt::WindowModal);
    sheet.setFixedSize(size);
    auto* column = new QVBoxLayout(&sheet);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);
    return *column;
}

QPushButton& SheetLook::addButtons(QDialog& sheet, QBoxLayout& line, const QString& action) {
    auto* cancel = new QPushButton("Cancel");
    cancel->setAutoDefault(false); // Return stays with the action wherever the focus is
    QObject::connect(cancel, &QPushButton::clicked, &sheet, &QDialog::reject);
    auto* act = new QPushButton(action);
    act->setDefault(true);
    QObject::connect(act, &QPushButton::clicked, &sheet, &QDialog::accept);
    line.addWidget(cancel);
    line.addWidget(act);
    return *act;
}

void SheetLook::headline(QLabel& label) {
    QFont font = label.font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    label.setFont(font);
}

QFont SheetLook::captionFont(const QFont& base, Digits digits) {
    QFont font = digits == Digits::monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    return font;
}

QColor SheetLook::warning() { return {230, 126, 34}; }

void SheetLook::caption(QLabel& label, Digits digits, Tone tone) {
    label.setFont(captionFont(label.font(), digits));
    if (tone == Tone::secondary) secondary(label);
}

void SheetLook::secondary(QLabel& label) {
    QPalette colours = label.palette();
    colours.setColor(QPalette::WindowText, colours.color(QPalette::PlaceholderText));
    label.setPalette(colours);
}

SheetLook::OneLine::OneLine(const QString& text) : QLabel(text) { setToolTip(text); }

QSize SheetLook::OneLine::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void SheetLook::OneLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect room = contentsRect();
    painter.drawText(room, int(alignment()), fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
}
