#include "shell/NavState.h"

namespace vorel {

QString sectionTitle(Section s) {
    switch (s) {
        case Section::history: return QStringLiteral("Conversations");
        case Section::chart: return QStringLiteral("Bar chart");
        case Section::details: return QStringLiteral("Details");
        case Section::exportCsv: return QStringLiteral("Export");
        case Section::pricing: return QStringLiteral("Pricing");
        case Section::about: return QStringLiteral("About");
    }
    return {};
}

QString sectionSymbol(Section s) {
    switch (s) {
        case Section::history: return QStringLiteral("list.bullet.rectangle");
        case Section::chart: return QStringLiteral("chart.bar");
        case Section::details: return QStringLiteral("list.clipboard");
        case Section::exportCsv: return QStringLiteral("square.and.arrow.up");
        case Section::pricing: return QStringLiteral("dollarsign.circle");
        case Section::about: return QStringLiteral("info.circle");
    }
    return {};
}

Section sectionFromName(const QString& name) {
    if (name == QLatin1String("chart")) return Section::chart;
    if (name == QLatin1String("details")) return Section::details;
    if (name == QLatin1String("export")) return Section::exportCsv;
    if (name == QLatin1String("pricing")) return Section::pricing;
    if (name == QLatin1String("about")) return Section::about;
    return Section::history;
}

NavState& NavState::shared() {
    static NavState* instance = new NavState;
    return *instance;
}

void NavState::setSection(Section s) {
    if (s == section_) return;
    section_ = s;
    emit sectionChanged(s);
}

}  // namespace vorel
