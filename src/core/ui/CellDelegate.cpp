#include "core/ui/CellDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QTextOption>
#include <QTransform>

namespace ostrel {

namespace {

// The styles whose item view cells QCommonStyle draws: the background panel, then the text in the
// cell less the focus frame's margin, elided on one line and aligned in the cell.
bool drawnByCommonStyle(const QStyle* style)
{
    const QString name = style->name();
    return name.compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0;
}

bool plainText(const QStyleOptionViewItem& option)
{
    constexpr auto extras =
        QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::WrapText;
    if (option.features & extras)
        return false;
    if (option.state & (QStyle::State_HasFocus | QStyle::State_Editing))
        return false;
    // Several lines, and the separator of a text's shorter variants, take QCommonStyle's own way.
    for (const QChar ch : option.text) {
        if (ch == QLatin1Char('\n') || ch == QChar::LineSeparator || ch == QChar(0x9C))
            return false;
    }
    return true;
}

QTextOption lineOption(const QStyleOptionViewItem& option)
{
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(QStyle::visualAlignment(option.direction, option.displayAlignment));
    return textOption;
}

void layOutLine(QTextLayout& layout, int width)
{
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

} // namespace

void CellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    if (!drawnByCommonStyle(style) || !plainText(opt)) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }

    painter->save();
    painter->setClipRect(opt.rect);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    if (!opt.text.isEmpty()) {
        QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
            group = QPalette::Inactive;
        painter->setPen(opt.palette.color(group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                                      : QPalette::Text));
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect box = opt.rect.adjusted(margin, 0, -margin, 0);
        const LaidText& text = laidOut(opt, box);
        painter->setFont(opt.font);
        painter->drawStaticText(QPointF(box.x(), box.y() + text.top), text.text);
    }
    painter->restore();
}

const CellDelegate::LaidText& CellDelegate::laidOut(const QStyleOptionViewItem& option, const QRect& box) const
{
    const auto fits = [&](const LaidText& text) {
        return text.height == box.height() && text.alignment == option.displayAlignment &&
               text.elide == option.textElideMode && text.direction == option.direction && text.font == option.font;
    };
    TextKey key{option.text, box.width()};
    if (const auto recent = m_recent.find(key); recent != m_recent.end() && fits(recent->second))
        return recent->second;
    if (m_recent.size() >= KeptTexts) {
        m_older = std::move(m_recent);
        m_recent.clear();
    }
    if (auto older = m_older.find(key); older != m_older.end() && fits(older->second)) {
        auto node = m_older.extract(older);
        m_recent.erase(key);
        return m_recent.insert(std::move(node)).position->second;
    }

    // What QCommonStyle does for one line: the whole text sets the height the cell's alignment
    // places, and a text wider than its box is elided. The static text keeps the glyphs and their
    // places, which it takes from the same layout QCommonStyle draws.
    const QTextOption textOption = lineOption(option);
    QTextLayout layout(option.text, option.font);
    layout.setTextOption(textOption);
    layOutLine(layout, box.width());
    const QRect placed = QStyle::alignedRect(Qt::LayoutDirectionAuto, option.displayAlignment,
                                             layout.boundingRect().size().toSize(), box);
    QString shown = option.text;
    if (layout.lineCount() > 0 && layout.lineAt(0).naturalTextWidth() > box.width())
        shown = QFontMetrics(option.font).elidedText(option.text, option.textElideMode, box.width());

    LaidText text;
    text.font = option.font;
    text.height = box.height();
    text.alignment = option.displayAlignment;
    text.elide = option.textElideMode;
    text.direction = option.direction;
    text.text.setText(shown);
    text.text.setTextFormat(Qt::PlainText);
    text.text.setTextOption(textOption);
    text.text.setTextWidth(box.width());
    text.text.prepare(QTransform(), option.font);
    text.top = placed.top() - box.top();
    return m_recent.insert_or_assign(std::move(key), std::move(text)).first->second;
}

} // namespace ostrel
