#include <utility>

#include "ui/main_window_presenter.h"

namespace veltora {

MainWindowPresenter::MainWindowPresenter(MainWindowView& view, MainWindowServices services)
    : view_(view), s_(std::move(services)), schedule_{s_.runLog} {}

}  // namespace veltora
