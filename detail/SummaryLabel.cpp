#include "detail/SummaryLabel.h"

#include <QMouseEvent>

#include "shell/Formatting.h"
#include "shell/Theme.h"

namespace vorel {

SummaryLabel::SummaryLabel(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("summary"));
    setWordWrap(true);
    setTextFormat(Qt::RichText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setFont(BrandFont::sans(13));
}

void SummaryLabel::setSummary(const QString& text) {
    summary_ = text;
    // The text is shown as typed: every character is escaped before it is
    // put beside the bold caption.
    const QString strong = BrandColor::css(BrandColor::text());
    const QString muted = BrandColor::css(BrandColor::textMuted());
    setText(QStringLiteral("<span style=\"font-weight:600; color:%1\">Summary: </span>"
                           "<span style=\"color:%2; white-space:pre-wrap\">%3</span>")
                .arg(strong, muted, isolated(text).toHtmlEscaped()));
}

void SummaryLabel::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        emit clicked();
        e->accept();
        return;
    }
    QLabel::mousePressEvent(e);
}

}  // namespace vorel
