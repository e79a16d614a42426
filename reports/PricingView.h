#pragma once
// The Pricing section: the built-in rate table, read-only, as an Anthropic
// table and an OpenAI table, with the date the rates were taken and notes on
// how they are applied. It reads only constants, so it never changes while
// the application runs; its colours follow the appearance.

#include <QString>
#include <QWidget>
#include <vector>

#include "engine/Pricing.h"

class QLabel;

namespace vorel {

class PricingView : public QWidget {
    Q_OBJECT
public:
    explicit PricingView(QWidget* parent = nullptr);

    // The table's rows whose prefix begins with "claude", and all the
    // others, each in table order.
    static std::vector<RateRow> anthropicRows();
    static std::vector<RateRow> openAIRows();

    // A rate in dollars: "$" and the whole number when it is one, else
    // rounded to three decimals without trailing zeros ($0.5, $0.938, $0).
    static QString dollars(double rate);

    // The fallback note, with the fallback rates filled in.
    static QString fallbackNote();

private:
    QWidget* section(const QString& title, const std::vector<RateRow>& rows, const QString& name);
    QWidget* columnHeader();
    QWidget* rateRow(const RateRow& row);
    QWidget* footnotes();
    void applyColors();
};

}  // namespace vorel
