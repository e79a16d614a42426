#pragma once
// The About section: a fixed page that says why Vorel exists, what it
// counts and what it does not, what the numbers mean, how costs are
// calculated and that everything stays on the user's computer. It reads no
// data and has no controls; its colours follow the appearance.

#include <QString>
#include <QWidget>

namespace vorel {

class AboutView : public QWidget {
    Q_OBJECT
public:
    // The header shows the logo drawn from `logoPath` (an SVG) when that
    // file exists and can be drawn; otherwise the two header texts stand
    // alone at the leading edge.
    explicit AboutView(const QString& logoPath = QStringLiteral(":/images/logo-transparent.svg"),
                       QWidget* parent = nullptr);

private:
    void applyColors();
};

}  // namespace vorel
