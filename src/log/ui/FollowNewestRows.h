#pragma once

#include <QObject>

class QAbstractItemView;

namespace ostrel {

// Keeps a view on its newest rows as rows are added at the end, as long as the operator has not
// scrolled away from the end: reading an older row is not interrupted. The view must have its
// model set; the object lives as the view's child.
class FollowNewestRows : public QObject
{
    Q_OBJECT

public:
    explicit FollowNewestRows(QAbstractItemView& view);

private:
    void remember();
    void follow();

    QAbstractItemView& m_view;
    bool m_atEnd = true;
};

} // namespace ostrel
