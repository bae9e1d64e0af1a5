#include "model/wkm_srv/VORN.h"

VORN::VORN(std::string name, std::unique_ptr<PersistentStore> store)
    : name_(std::move(name)), store_(store ? std::move(store) : makeMemoryStore()) {}

VORN::~VORN() = default;
