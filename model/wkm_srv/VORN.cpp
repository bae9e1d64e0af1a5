#include "model/wkm_srv/VORN.h"

VORN::VORN(std::string name, std::unique_ptr<PersistentStore> store)
    : name_(std::move(name)),
      store_(store ? std::move(store) : makeMemoryStore()),
      reading_(store_.get()) {}

VORN::VORN(std::string name, PersistentStore& borrowed)
    : name_(std::move(name)), reading_(&borrowed) {}

VORN::~VORN() = default;
