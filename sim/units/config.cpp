#include "model.h"

namespace zr::sim {
namespace {

class Unit_ final : public Unit {
public:
    explicit Unit_(ReaderModel&) {}
};

}  // namespace

std::unique_ptr<Unit> make_config_unit(ReaderModel& m) { return std::make_unique<Unit_>(m); }

}  // namespace zr::sim
