#include "ui/accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

#include "ui/controls.h"

namespace lumo::ui {
namespace {

// Name: what the owner set, or else the caption a box paints.
class AccessiblePngButton final : public QAccessibleWidget {
 public:
  explicit AccessiblePngButton(CPngButton* button)
      : QAccessibleWidget(button, button->isCheckBox() ? QAccessible::CheckBox : QAccessible::Button) {}

  QAccessible::Role role() const override { return button().isCheckBox() ? QAccessible::CheckBox : QAccessible::Button; }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) {
      const QString name = widget()->accessibleName();
      return name.isEmpty() ? button().caption() : name;
    }
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    if (button().isCheckBox()) {
      state.checkable = true;
      state.checked = button().checkedFlag();
    } else {
      // The install button stays pressed while the installation runs.
      state.pressed = button().checkedFlag();
    }
    return state;
  }

  QStringList actionNames() const override {
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled()) names.prepend(button().isCheckBox() ? toggleAction() : pressAction());
    return names;
  }

  void doAction(const QString& action) override {
    if ((action == pressAction() || action == toggleAction()) && widget()->isEnabled()) {
      button().click();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  CPngButton& button() const { return *static_cast<CPngButton*>(widget()); }
};

// A link is a link a reader can follow; a plain label is text.
class AccessibleLabel final : public QAccessibleWidget {
 public:
  explicit AccessibleLabel(CColorLabel* label)
      : QAccessibleWidget(label, label->isLink() ? QAccessible::Link : QAccessible::StaticText) {}

  QAccessible::Role role() const override { return label().isLink() ? QAccessible::Link : QAccessible::StaticText; }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) {
      const QString name = widget()->accessibleName();
      return name.isEmpty() ? label().text() : name;
    }
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    if (label().isLink()) {
      state.linked = true;
      state.traversed = false;
    } else {
      state.readOnly = true;
    }
    return state;
  }

  QStringList actionNames() const override {
    QStringList names = QAccessibleWidget::actionNames();
    if (label().isLink()) names.prepend(pressAction());
    return names;
  }

  void doAction(const QString& action) override {
    if (action == pressAction() && label().isLink()) {
      emit label().clicked();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  CColorLabel& label() const { return *static_cast<CColorLabel*>(widget()); }
};

// The bar: its value out of its maximum, named by what it is doing.
class AccessibleProgress final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit AccessibleProgress(CLumoProgress* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) {
      const QString name = widget()->accessibleName();
      return name.isEmpty() ? bar().text() : name;
    }
    if (t == QAccessible::Value) return QStringLiteral("%1%").arg(percent());
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    return state;
  }

  QVariant currentValue() const override { return bar().position(); }
  void setCurrentValue(const QVariant&) override {}  // the run moves it, not the reader
  QVariant maximumValue() const override { return bar().maximum(); }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  CLumoProgress& bar() const { return *static_cast<CLumoProgress*>(widget()); }
  int percent() const { return bar().maximum() > 0 ? bar().position() * 100 / bar().maximum() : 0; }
};

QAccessibleInterface* describe(const QString& key, QObject* object) {
  if (key == QLatin1String(CPngButton::staticMetaObject.className())) {
    return new AccessiblePngButton(static_cast<CPngButton*>(object));
  }
  if (key == QLatin1String(CColorLabel::staticMetaObject.className())) {
    return new AccessibleLabel(static_cast<CColorLabel*>(object));
  }
  if (key == QLatin1String(CLumoProgress::staticMetaObject.className())) {
    return new AccessibleProgress(static_cast<CLumoProgress*>(object));
  }
  return nullptr;
}

}  // namespace

void installAccessibleControls() {
  static const bool installed = [] {
    QAccessible::installFactory(describe);
    return true;
  }();
  (void)installed;
}

void notifyCheckedChanged(CPngButton& box) {
  if (!QAccessible::isActive()) return;
  QAccessible::State changed;
  changed.checked = true;
  QAccessibleStateChangeEvent event(&box, changed);
  QAccessible::updateAccessibility(&event);
}

void notifyValueChanged(CLumoProgress& bar, int position) {
  if (!QAccessible::isActive()) return;
  QAccessibleValueChangeEvent event(&bar, position);
  QAccessible::updateAccessibility(&event);
}

}  // namespace lumo::ui
