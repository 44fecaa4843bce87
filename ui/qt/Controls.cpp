#include "ui/qt/Controls.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "ui/qt/TextCodec.h"

namespace korv {

Operation Control::setVisible()
{
    return [this](TData v) { switchState(Aspect::Visible, v.isSet()); };
}

Operation Control::setEnabled()
{
    return [this](TData v) { switchState(Aspect::Enabled, v.isSet()); };
}

void Control::switchState(Aspect aspect, bool on)
{
    onWindow([&] {
        if (!on)
            parkFocusIfHeld();
        if (aspect == Aspect::Visible)
            widget_->setVisible(on);
        else
            widget_->setEnabled(on);
        if (on)
            becameUsable();
    });
}

void Control::parkFocusIfHeld()
{
    // Left to itself the toolkit hands the focus on to the next control, and
    // a text field given the focus that way shows its whole text selected.
    // The window itself holds it instead, until a button takes it.
    QWidget* focused = widget_->window()->focusWidget();
    if (focused != nullptr && (focused == widget_ || widget_->isAncestorOf(focused)))
        widget_->window()->setFocus(Qt::OtherFocusReason);
}

Button::Button(WindowDispatcher& dispatcher, QPushButton* button) : Control(dispatcher, button)
{
    QObject::connect(button, &QPushButton::clicked, button, [this] { click.fire(TData(std::int32_t{0})); });
}

void Button::becameUsable()
{
    // A button that becomes usable takes the focus the window holds, so
    // that the keyboard goes on where the user is expected to go next.
    QWidget* w = widget();
    QWidget* focused = w->window()->focusWidget();
    if ((focused == nullptr || focused == w->window()) && w->isEnabled() && w->isVisibleTo(w->window()))
        w->setFocus(Qt::OtherFocusReason);
}

StatusField::StatusField(WindowDispatcher& dispatcher, QLineEdit* field) : Control(dispatcher, field) {}

Operation StatusField::setText()
{
    return [this](TData v) {
        const QString text = fromCp1251(v.toText());
        onWindow([&] {
            auto* field = static_cast<QLineEdit*>(widget());
            const int caret = field->cursorPosition();
            field->setText(text);
            field->setCursorPosition(std::min(caret, static_cast<int>(text.size())));
        });
    };
}

PortList::PortList(WindowDispatcher& dispatcher, QComboBox* box) : Control(dispatcher, box)
{
    // activated comes from the user's choice with mouse or keyboard, never
    // from typing (the box itself sees to that).
    QObject::connect(box, &QComboBox::activated, box, [this](int index) {
        if (index >= 0 && static_cast<std::size_t>(index) < entries_.size())
            entryChosen.fire(TData(entries_[static_cast<std::size_t>(index)]));
    });
}

Operation PortList::addEntry()
{
    return [this](TData v) {
        std::string bytes = v.toText();
        onWindow([&] {
            auto* box = static_cast<QComboBox*>(widget());
            const QString edited = box->currentText();
            const int current = box->currentIndex();
            entries_.push_back(bytes);
            box->addItem(fromCp1251(bytes));
            // Adding to an empty box selects the first entry: undo that.
            if (box->currentIndex() != current) {
                box->setCurrentIndex(current);
                box->setEditText(edited);
            }
        });
    };
}

ProgressBar::ProgressBar(WindowDispatcher& dispatcher, QProgressBar* bar) : Control(dispatcher, bar) {}

Operation ProgressBar::setPosition()
{
    return [this](TData v) {
        const std::int32_t position = v.toInt();
        const auto move = [this, position] {
            auto* bar = static_cast<QProgressBar*>(widget());
            bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
        };
        // The transfer moves the bar once per block, right before it sends
        // the next block: waiting for the window thread (busy painting, say)
        // would hold the block back. The request goes into the same queue as
        // every other, so the window's changes keep their order.
        if (dispatcher_.onWindowThread())
            onWindow(move);
        else
            dispatcher_.post(move);
    };
}

CheckValueField::CheckValueField(WindowDispatcher& dispatcher, QLineEdit* field, std::string initial)
    : Control(dispatcher, field), text_(std::move(initial))
{
    field->setText(fromCp1251(text_));
}

Operation CheckValueField::setText()
{
    return [this](TData v) { set(v.toText()); };
}

Getter CheckValueField::getText()
{
    return [this] { return TData(get()); };
}

void CheckValueField::set(std::string text)
{
    {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
    }
    // The widget catches up later; many sets in a row cost one refresh.
    if (!refreshPending_.exchange(true))
        dispatcher_.post([this] { refreshWidget(); });
}

std::string CheckValueField::get() const
{
    std::lock_guard lock(mutex_);
    return text_;
}

void CheckValueField::refreshWidget()
{
    const std::string shown = get();
    static_cast<QLineEdit*>(widget())->setText(fromCp1251(shown));
    // A transfer sets the text for every byte: the widget rests between
    // refreshes, and the rest's end shows whatever was set meanwhile.
    QTimer::singleShot(kRefreshRest, widget(), [this, shown] {
        refreshPending_.store(false);
        if (get() != shown && !refreshPending_.exchange(true))
            refreshWidget();
    });
}

} // namespace korv
