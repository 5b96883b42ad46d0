#pragma once

#include <QAbstractButton>
#include <string>

namespace quorvelle {

// A borderless button showing one popup symbol (PopupSymbols.h) of `symbolSize` pixels with `padding`
// around it; the padding is part of the hit area. `highlightOnHover` tints a rounded rectangle behind the
// symbol while the pointer is over it. The tooltip is shown verbatim. Main thread.
class SymbolButton : public QAbstractButton {
 public:
  struct Look {
    int symbolSize = 13;
    int padding = 1;
    double weight = 1.0;
    bool highlightOnHover = false;
    // Drawn in the secondary shade rather than the text colour.
    bool secondary = false;
  };

  SymbolButton(std::string symbol, const QString& tooltip, Look look, QWidget* parent = nullptr);

  const std::string& symbol() const { return symbol_; }
  bool isHovering() const { return hovering_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  std::string symbol_;
  Look look_;
  bool hovering_ = false;
};

}  // namespace quorvelle
