#pragma once
// A text button of the tray panel.

#include <QAbstractButton>

namespace vorel {

// A borderless text button: muted, and in the accent colour while the
// pointer is over it (or it has the keyboard focus).
class CommandButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CommandButton(const QString& title, QWidget* parent = nullptr);
    bool isHovered() const { return hover_; }
    QColor textColor() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    bool hover_ = false;
};

}  // namespace vorel
