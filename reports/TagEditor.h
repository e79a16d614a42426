#pragma once
// A conversation's tags as small chips, followed by a dashed add button.
// The button opens a popover in which the user filters the tags used on
// other conversations, picks one, or creates a new one; a chip shows a
// small cross while the pointer is over it, which removes that tag.
//
// The editor reads and writes only through the metadata store and keeps no
// tag data of its own: only whether its popover is open and what is typed
// in it. Its host calls refresh() when the store changes; the editor
// refreshes itself after its own edits. A refresh updates chips and lists
// in place, so an open popover and what is typed in it survive it.

#include <QAbstractButton>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace vorel {

class MetadataStore;

namespace tagtext {

// Tags compare the way the store compares them: ignoring case and
// differences of Unicode composition.
bool sameIgnoringCase(const QString& a, const QString& b);
// `part` appears in `text` under the same comparison.
bool containsIgnoringCase(const QString& text, const QString& part);

}  // namespace tagtext

// What the add popover lists for what is typed (taken as typed, untrimmed).
struct TagChoices {
    // The "Create" row: something is typed and no tag anywhere equals it.
    bool showCreate = false;
    // The tags offered, in the order of `allTags`: every tag in use that
    // this conversation has in no case, narrowed to those containing the
    // typed text when something is typed.
    QStringList tags;
    // Shown only when `tags` is empty; empty when there is none.
    QString message;

    static TagChoices compute(const QStringList& allTags, const QStringList& ownTags, const QString& query);
};

// One tag: its text upper-cased on a small rounded chip, and while the
// pointer is over it a cross that asks for its removal. Given less room
// than its text needs, the chip shows the text cut short on one line,
// ending in "…".
class TagChip : public QWidget {
    Q_OBJECT
public:
    explicit TagChip(QWidget* parent = nullptr);

    // The tag exactly as stored; the chip shows it upper-cased.
    void setTag(const QString& tag);
    const QString& tag() const { return tag_; }
    // The upper-cased text, whole.
    const QString& text() const { return text_; }
    // The text as drawn at the chip's present width.
    QString shownText() const;
    QToolButton* removeButton() const { return remove_; }
    bool isHovered() const { return hover_; }
    void applyColors();

    // The whole text; at least its first letter and the ellipsis beside
    // the cross, which shows over the end of the text while hovered.
    // Hovering never changes the chip's size.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The width it takes when offered `width`: no more than its text cut
    // short to fit needs, and no less than its minimum.
    int widthIn(int width) const;
    // Every chip's font and height.
    static QFont chipFont();
    static int chipHeight();

signals:
    void removeClicked(const QString& tag);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void setHover(bool hover);
    // Where the text goes: inside the padding, beside the cross when shown.
    QRect textRect() const;
    QSize sizeFor(int textWidth) const;
    int leastTextWidth() const;

    QString tag_;
    QString text_;
    QToolButton* remove_;
    bool hover_ = false;
};

// One clickable line of the popover's list. Its text is drawn as given:
// no mnemonic is taken from an "&".
class TagOptionRow : public QAbstractButton {
    Q_OBJECT
public:
    explicit TagOptionRow(bool accent, QWidget* parent = nullptr);

    void setLabel(const QString& text);
    const QString& label() const { return label_; }
    bool isAccent() const { return accent_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QFont labelFont() const;

    QString label_;
    bool accent_;
};

// The popover: a text field, a rule, and the scrolling list of the create
// row, the offered tags and the message.
class TagPopover : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 220;
    static constexpr int kMaxListHeight = 180;

    explicit TagPopover(QWidget* anchor);

    QLineEdit* field() const { return field_; }
    TagOptionRow* createRow() const { return create_; }
    // The offered tags' rows, in order.
    std::vector<TagOptionRow*> optionRows() const;
    // The message, or empty when none shows.
    QString message() const;
    QScrollArea* list() const { return scroll_; }

    // Shows `choices` for `query`, reusing the rows already made.
    void setChoices(const TagChoices& choices, const QString& query);
    // Opens below the anchor (above it when there is no room), on screen.
    void showAtAnchor();
    // Moves the open popover to follow its anchor and its own size.
    void place();
    void applyColors();

signals:
    void picked(const QString& tag);
    // Return in the field, or the create row.
    void commitRequested();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    QWidget* anchor_;
    // While open above its anchor: how far above the anchor's top its own
    // top stands.
    std::optional<int> openedAbove_;
    QLineEdit* field_;
    QScrollArea* scroll_;
    QWidget* listBody_;
    QVBoxLayout* listLayout_;
    TagOptionRow* create_;
    std::vector<TagOptionRow*> options_;
    QLabel* message_;
};

class TagEditor : public QWidget {
    Q_OBJECT
public:
    TagEditor(MetadataStore& meta, QString rowId, QWidget* parent = nullptr);

    const QString& rowId() const { return id_; }
    // Shows another conversation's tags.
    void setRowId(const QString& rowId);
    // Reads the tags again; updates chips and an open popover in place.
    void refresh();

    // The chips, in stored order; a tag stored twice shows once. A chip
    // left out for want of room is among them, hidden.
    std::vector<TagChip*> chips() const;
    QAbstractButton* addButton() const { return add_; }
    // How many chips are left out for want of room (the row says "+3").
    int hiddenCount() const { return hidden_; }
    QLabel* hiddenCountLabel() const { return more_; }
    static QString hiddenCountText(size_t hidden);
    // Made when first opened and kept, with what was typed, until the
    // editor goes.
    TagPopover* popover() const { return popover_; }
    bool isPopoverOpen() const;
    void openPopover();
    // What is typed in the popover's field.
    QString query() const;

    // The widths of chips wanting `natural` widths (at least `minimum`)
    // in a row `room` wide, where each chip is followed by `spacing`. As
    // the platform shares a line among texts: each chip gets an equal part
    // of what is left, and one that needs less keeps its own width and
    // leaves the rest to the others. When the parts fall below some
    // minimum, the last chips are left out (width 0) until the rest fit.
    static std::vector<int> fitChipWidths(const std::vector<int>& natural, const std::vector<int>& minimum, int room,
                                          int spacing);

    // One line: every chip whole and the add button, as tall with tags as
    // without. Less room cuts the chips short, never the add button.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void commit();
    void pick(const QString& tag);
    void remove(const QString& tag);
    void refreshChoices();
    void placeChips();
    void applyColors();

    MetadataStore& meta_;
    QString id_;
    // Made as needed and kept; the first `used_` show this conversation's
    // tags.
    std::vector<TagChip*> chips_;
    size_t used_ = 0;
    QAbstractButton* add_;
    QLabel* more_;
    int hidden_ = 0;
    TagPopover* popover_ = nullptr;
};

}  // namespace vorel
