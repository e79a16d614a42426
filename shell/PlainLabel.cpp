#include "shell/PlainLabel.h"

#include <QLabel>

namespace vorel {

QLabel* plainLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setText(text);
    return label;
}

QLabel* plainLabel(const QString& text, const QString& role, const QFont& font) {
    QLabel* label = plainLabel(text, font);
    label->setObjectName(role);
    return label;
}

QLabel* wrappingLabel(const QString& text, const QString& role, const QFont& font) {
    QLabel* label = plainLabel(text, role, font);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    return label;
}

}  // namespace vorel
