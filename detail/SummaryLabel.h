#pragma once
// The summary line of the detail screen in its display form: "Summary: "
// then the text, wrapping; a click asks to edit it.

#include <QLabel>
#include <QString>

namespace vorel {

class SummaryLabel : public QLabel {
    Q_OBJECT
public:
    explicit SummaryLabel(QWidget* parent = nullptr);
    void setSummary(const QString& text);
    const QString& summary() const { return summary_; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    QString summary_;
};

}  // namespace vorel
