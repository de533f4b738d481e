#include "core/ui/CellDelegate.h"

#include <QBrush>
#include <QHeaderView>
#include <QImage>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleFactory>
#include <QTableView>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace ostrel {
namespace {

struct GridCase
{
    const char* name;
    const char* style;
    const char* family; // nullptr: the view's own
    bool bold;
    int columnWidth; // narrow widths elide the longer texts
    Qt::Alignment alignment;
    bool selectSecondRow;
    bool enabled;
};

// A grid of the texts a station grid shows: Cyrillic words, times, money, an empty cell, one too
// long for its column, one cell with a background of its own.
std::unique_ptr<QStandardItemModel> sampleModel(Qt::Alignment alignment)
{
    const std::vector<std::vector<QString>> rows = {
        {QStringLiteral("pc1"), QStringLiteral("Игра"), QStringLiteral("0:12:34"), QStringLiteral("150,00")},
        {QStringLiteral("pc10"), QStringLiteral("Cвободно"), QString(), QStringLiteral("Ожидание оплаты клиентом")},
        {QStringLiteral("pc2"), QStringLiteral("Интернет"), QStringLiteral("1:00:00"), QStringLiteral("0,00")},
    };
    auto model = std::make_unique<QStandardItemModel>(static_cast<int>(rows.size()), 4);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int c = 0; c < 4; ++c) {
            auto* item = new QStandardItem(rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
            item->setTextAlignment(alignment);
            model->setItem(r, c, item);
        }
    }
    model->item(2, 2)->setBackground(QBrush(QColor(0xFF, 0xB0, 0xB0)));
    return model;
}

QImage grabCells(QTableView& view)
{
    view.viewport()->update();
    return view.viewport()->grab().toImage();
}

TEST(CellDelegate, PaintsEveryPlainCellAsTheStyledDelegateDoes)
{
    const GridCase cases[] = {
        {"fusion, wide columns", "Fusion", nullptr, false, 120, Qt::AlignLeft | Qt::AlignVCenter, false, true},
        {"fusion, bold, elided", "Fusion", nullptr, true, 40, Qt::AlignLeft | Qt::AlignVCenter, false, true},
        {"fusion, right aligned, selected", "Fusion", nullptr, false, 70, Qt::AlignRight | Qt::AlignVCenter, true,
         true},
        {"fusion, centred top, disabled", "Fusion", nullptr, false, 70, Qt::AlignHCenter | Qt::AlignTop, true, false},
        {"windows, elided, selected", "Windows", nullptr, false, 45, Qt::AlignLeft | Qt::AlignVCenter, true, true},
        // A font with a leading of its own (the package's run dependencies install it).
        {"fusion, a font with leading", "Fusion", "Liberation Sans", false, 40, Qt::AlignLeft | Qt::AlignVCenter, true,
         true},
    };
    // One delegate for every case: a text kept for one font, alignment or style must not be drawn
    // for another.
    CellDelegate cells;
    for (const GridCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QStyle> style(QStyleFactory::create(QString::fromLatin1(c.style)));
        ASSERT_NE(style, nullptr);
        auto model = sampleModel(c.alignment);
        QStyledItemDelegate styled;
        QTableView view;
        view.setStyle(style.get());
        view.setModel(model.get());
        view.setWordWrap(false);
        QFont font = view.font();
        if (c.family)
            font.setFamilies({QString::fromLatin1(c.family)});
        font.setBold(c.bold);
        view.setFont(font);
        view.verticalHeader()->setDefaultSectionSize(17);
        for (int col = 0; col < 4; ++col)
            view.setColumnWidth(col, c.columnWidth);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(4 * c.columnWidth + 40, 100);
        view.setEnabled(c.enabled);
        if (c.selectSecondRow)
            view.selectRow(1);

        view.setItemDelegate(&styled);
        const QImage narrow = grabCells(view);
        view.setItemDelegate(&cells);
        EXPECT_EQ(grabCells(view), narrow);
        EXPECT_GT(cells.keptTexts(), 0U); // the cells were its own, not handed back

        // The texts kept for one width are laid out anew for another.
        view.setColumnWidth(1, c.columnWidth + 30);
        const QImage wider = grabCells(view);
        view.setItemDelegate(&styled);
        EXPECT_EQ(grabCells(view), wider);
        view.setModel(nullptr);
    }
}

TEST(CellDelegate, KeepsABoundedNumberOfTexts)
{
    std::unique_ptr<QStyle> style(QStyleFactory::create(QStringLiteral("Fusion")));
    QStandardItemModel model(1, 1);
    CellDelegate cells;
    QTableView view;
    view.setStyle(style.get());
    view.setModel(&model);
    view.setItemDelegate(&cells);
    view.setWordWrap(false);
    view.resize(200, 100);
    for (std::size_t i = 0; i < 3 * CellDelegate::KeptTexts; ++i) {
        model.setData(model.index(0, 0), QString::number(i));
        grabCells(view);
    }
    EXPECT_GE(cells.keptTexts(), CellDelegate::KeptTexts);
    EXPECT_LE(cells.keptTexts(), 2 * CellDelegate::KeptTexts);
}

} // namespace
} // namespace ostrel
