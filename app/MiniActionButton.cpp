#include "app/MiniActionButton.h"

namespace quorvelle {

MiniActionButton::MiniActionButton(std::string symbol, const QString& help, std::function<void()> action,
                                   QWidget* parent)
    : SymbolButton(std::move(symbol), help, Look{9, 3, 1.2, true, false}, parent) {
  connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
    if (action) action();
  });
}

}  // namespace quorvelle
