#pragma once
// Lays its widgets out left to right, as wide as each asks, and starts a
// new line when the next one would not fit: a control bar that keeps every
// control whole in a narrow window. The items of a line stand on its
// bottom edge, so that captioned controls of different heights line up.

#include <QLayout>
#include <QList>

namespace vorel {

class FlowLayout : public QLayout {
public:
    // `spacing` between the items of a line, `lineSpacing` between lines.
    explicit FlowLayout(QWidget* parent = nullptr, int spacing = 16, int lineSpacing = 10);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override { return items_.value(index); }
    QLayoutItem* takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

    // How many lines the items take at `width` (0 when there are none).
    int lineCount(int width) const;

private:
    // Lays the items out in `rect` (only measuring unless `apply`); returns
    // the height used and sets `lines`.
    int arrange(const QRect& rect, bool apply, int* lines = nullptr) const;

    QList<QLayoutItem*> items_;
    int spacing_;
    int lineSpacing_;
};

}  // namespace vorel
