#pragma once
// A text button of the tray panel.

#include "shell/HoverButton.h"

namespace vorel {

// A borderless text button: muted, and in the accent colour while the
// pointer is over it (or it has the keyboard focus).
class CommandButton : public HoverButton {
    Q_OBJECT
public:
    explicit CommandButton(const QString& title, QWidget* parent = nullptr);
    QColor textColor() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace vorel
