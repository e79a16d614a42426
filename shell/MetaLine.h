#pragma once
// The meta line under a conversation's name in the tray panel.

#include <QString>
#include <QWidget>

class QTextLayout;

namespace vorel {

// A row's meta line and, for a conversation priced in part by estimate,
// the mark "⚑ est" after it in the warning colour. The two read as one text
// across the whole column: one line while they fit; otherwise wrapped
// between the pieces the line joins with " · ", never inside one ("22m
// ago" stays whole), with the mark kept whole after the line's end.
class MetaLine : public QWidget {
    Q_OBJECT
public:
    static const QString kMark;
    static const QString kSeparator;
    // `line` with breaks allowed only between its pieces and after each
    // separator: the same number of characters, its spaces no-break ones.
    static QString unbreakable(const QString& line);

    explicit MetaLine(QWidget* parent = nullptr);

    void setText(const QString& line);
    const QString& text() const { return line_; }
    void setMark(bool shown);
    bool hasMark() const { return mark_; }
    // The text as drawn: the line, then the mark when it is shown.
    QString shownText() const;
    // How many lines the text takes at the widget's width, and the part of
    // shownText() on each.
    int lineCount() const;
    QStringList shownLines() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;

private:
    double layOut(QTextLayout& layout, double width) const;

    QString line_;
    bool mark_ = false;
};

}  // namespace vorel
