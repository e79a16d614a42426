#include "shell/AppModel.h"

namespace vorel {

AppModel& AppModel::shared() {
    static AppModel* instance = [] {
        auto* m = new AppModel(std::make_unique<CostModel>(MetadataStore::shared()), MetadataStore::shared());
        m->start();
        return m;
    }();
    return *instance;
}

AppModel::AppModel(std::unique_ptr<CostModel> model, MetadataStore& meta)
    : model_(std::move(model)), meta_(meta), driver_(*model_) {
    modelToken_ = model_->changed().subscribe([this] { emit refreshed(); });
    metaToken_ = meta_.changed().subscribe([this] { emit metaChanged(); });
    timer_.setInterval(static_cast<int>(RefreshDriver::kInterval.count()));
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &AppModel::tick);
}

AppModel::~AppModel() {
    model_->changed().unsubscribe(modelToken_);
    meta_.changed().unsubscribe(metaToken_);
}

void AppModel::start() { timer_.start(); }

void AppModel::tick() {
    // What another program wrote to the metadata file shows now; changes a
    // failed save left in memory go out once the disk allows.
    meta_.takeInExternalChanges();
    meta_.retryUnsavedChanges();
    driver_.tick();
}

}  // namespace vorel
