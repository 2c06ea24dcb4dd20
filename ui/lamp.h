#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

namespace busdesk::ui {

class Underlay;

// The activity lamp: a filled circle whose fill colour the model sets.
class Lamp : public QWidget {
    Q_OBJECT
  public:
    explicit Lamp(QWidget* parent = nullptr);
    // Colour as the model holds it, 0x00BBGGRR.
    void SetFill(std::uint32_t bgr);
    QColor Fill() const { return fill_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor fill_;
    Underlay* under_;
};

QColor FromBgr(std::uint32_t bgr);

}  // namespace busdesk::ui
