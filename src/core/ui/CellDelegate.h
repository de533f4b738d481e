#pragma once

#include <QFont>
#include <QHashFunctions>
#include <QRect>
#include <QStaticText>
#include <QString>
#include <QStyledItemDelegate>

#include <cstddef>
#include <unordered_map>

namespace ostrel {

// Paints a grid's plain text cells as QStyledItemDelegate does under the Fusion and Windows styles,
// pixel for pixel, but keeps each text laid out: a busy grid repaints the same texts several times
// a second, and shaping and eliding them anew each time was most of the window's work. A cell with
// an icon, a check box, the focus frame, an editor or more than one line, and every cell under
// another style, is painted by QStyledItemDelegate itself.
class CellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Laid-out texts kept: up to twice this many, the ones painted most recently.
    static constexpr std::size_t KeptTexts = 1024;
    std::size_t keptTexts() const { return m_recent.size() + m_older.size(); }

private:
    // A text is kept per width: the same time or sum shows in columns of different widths.
    struct TextKey
    {
        QString text;
        int width = 0;
        bool operator==(const TextKey&) const = default;
    };
    struct TextHash
    {
        std::size_t operator()(const TextKey& key) const noexcept { return qHash(key.text, key.width); }
    };
    struct LaidText
    {
        QFont font;
        int height = 0;
        Qt::Alignment alignment;
        Qt::TextElideMode elide = Qt::ElideRight;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        QStaticText text;
        qreal top = 0; // from the text box's top to the layout's
    };
    using Texts = std::unordered_map<TextKey, LaidText, TextHash>;

    const LaidText& laidOut(const QStyleOptionViewItem& option, const QRect& box) const;

    mutable Texts m_recent;
    mutable Texts m_older;
};

} // namespace ostrel
