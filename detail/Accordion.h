#pragma once
// The pieces of a section that opens and closes: its title line and the box
// that holds its body. Both animate a toggle over the same short time: the
// chevron turns and the body's height slides.

#include <QAbstractButton>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

namespace vorel {

// A section's title line: a chevron (down while open) and the title. A
// click anywhere on it toggles the section.
class AccordionHeader : public QAbstractButton {
    Q_OBJECT
public:
    explicit AccordionHeader(const QString& title, QWidget* parent = nullptr);
    // Turns the chevron to match, over `animationMs` when it is above 0.
    void setExpanded(bool expanded, int animationMs = 0);
    bool isExpanded() const { return expanded_; }
    void setTitle(const QString& title);
    QString title() const { return text(); }
    // The chevron's turn, 0 (right) to 90 degrees (down).
    double chevronAngle() const { return angle_; }
    QSize sizeHint() const override;

signals:
    // A click toggled the section.
    void toggled(bool expanded);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool expanded_ = true;
    double angle_ = 90;
    QPointer<QVariantAnimation> turn_;
};

// Holds a section's body and shows the part of it that its open fraction
// allows, from the top: fully while open, nothing (and hidden) while closed,
// and the height in between while it slides.
class CollapsibleBox : public QWidget {
    Q_OBJECT
public:
    explicit CollapsibleBox(QWidget* body, QWidget* parent = nullptr);
    // Opens or closes, over `animationMs` when it is above 0.
    void setOpen(bool open, int animationMs = 0);
    bool isOpen() const { return open_; }
    QWidget* body() const { return body_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent*) override;
    bool event(QEvent* e) override;

private:
    int bodyHeight(int width) const;
    void setFraction(double f);

    QWidget* body_;
    bool open_ = true;
    double fraction_ = 1;
    QPointer<QVariantAnimation> slide_;
};

}  // namespace vorel
