#pragma once
// The process-wide cost model and the bridge that drives it from the Qt
// event loop: one pass at creation, then one every two seconds on the main
// thread (which also takes in what other programs wrote to the metadata file
// and retries a failed save of the annotations), and a Qt signal after every
// pass and every annotation change.

#include <QObject>
#include <QTimer>
#include <memory>

#include "engine/ChangeNotifier.h"
#include "engine/CostModel.h"
#include "engine/MetadataStore.h"
#include "engine/RefreshDriver.h"

namespace vorel {

class AppModel : public QObject {
    Q_OBJECT
public:
    // Made on first use (the first pass runs then), with the shared store.
    static AppModel& shared();

    // For tests: a model over given sources and store, with no timer
    // unless start() is called.
    AppModel(std::unique_ptr<CostModel> model, MetadataStore& meta);
    ~AppModel() override;

    CostModel& model() { return *model_; }
    MetadataStore& meta() { return meta_; }

    // Starts the two-second refresh timer.
    void start();
    // What the timer does: takes in changes of the metadata file made
    // elsewhere, saves changes a failed save left waiting, then one pass.
    void tick();

signals:
    // After every refresh pass, changed or not.
    void refreshed();
    // After every change of the annotations.
    void metaChanged();

private:
    std::unique_ptr<CostModel> model_;
    MetadataStore& meta_;
    RefreshDriver driver_;
    QTimer timer_;
    ChangeNotifier::Token modelToken_ = 0;
    ChangeNotifier::Token metaToken_ = 0;
};

}  // namespace vorel
