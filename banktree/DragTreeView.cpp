#include "banktree/DragTreeView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int kImageRole = CDragTreeView::kImageRole;
constexpr int kDataRole = CDragTreeView::kDataRole;
constexpr int kAutoScrollIntervalMs = 50;

// Which way a drag resting at `globalPos` scrolls `view`: -1 up, 1 down, 0 not at all. The
// bands are the view's own auto-scroll margin inside the top and bottom of its viewport.
int AutoScrollDirection(const CDragTreeView* view, QPoint globalPos) {
    if (view == nullptr) {
        return 0;
    }
    const QWidget* viewport = view->viewport();
    const QPoint pos = viewport->mapFromGlobal(globalPos);
    if (!viewport->rect().contains(pos)) {
        return 0;
    }
    // A short tree keeps a middle where the pointer rests without scrolling.
    const int margin = std::min(view->autoScrollMargin(), viewport->height() / 3);
    const QScrollBar* bar = view->verticalScrollBar();
    if (pos.y() < margin && bar->value() > bar->minimum()) {
        return -1;
    }
    if (pos.y() >= viewport->height() - margin && bar->value() < bar->maximum()) {
        return 1;
    }
    return 0;
}

// Paints the drop target like a selected item, the way a tree shows its drop highlight.
class DropHiliteDelegate : public QStyledItemDelegate {
public:
    explicit DropHiliteDelegate(CDragTreeView* view) : QStyledItemDelegate(view), m_view(view) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        QTreeWidgetItem* hilite = m_view->GetDropHilightItem();
        if (hilite != nullptr && m_view->indexFromItem(hilite) == index) {
            option->state |= QStyle::State_Selected | QStyle::State_Active;
        }
    }

private:
    CDragTreeView* m_view;
};

}  // namespace

CDragTreeView::CDragTreeView(QWidget* parent) : QTreeWidget(parent) {
    // The look of a tree with buttons and lines at the root: one column, no header.
    setColumnCount(1);
    header()->hide();
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setItemDelegate(new DropHiliteDelegate(this));
    m_autoScrollTimer.setInterval(kAutoScrollIntervalMs);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, &CDragTreeView::AutoScrollTick);
}

CDragTreeView::~CDragTreeView() {
    // A view closed in the middle of a drag must not leave the cursor changed for the rest
    // of the program.
    if (m_bDragging) {
        EndDragFeedback();
    }
}

QTreeWidgetItem* CDragTreeView::InsertItem(const QString& text, int image, std::uintptr_t data,
                                           QTreeWidgetItem* parent) {
    return AddNode(new QTreeWidgetItem(QStringList(text)), image, data, parent);
}

QTreeWidgetItem* CDragTreeView::AddNode(QTreeWidgetItem* item, int image, std::uintptr_t data,
                                        QTreeWidgetItem* parent) {
    item->setData(0, kImageRole, image);
    item->setData(0, kDataRole, QVariant::fromValue<quintptr>(data));
    if (image >= 0 && image < m_images.size()) {
        item->setIcon(0, m_images[image]);
    }
    if (parent != nullptr) {
        parent->addChild(item);
    } else {
        addTopLevelItem(item);
    }
    return item;
}

bool CDragTreeView::GetItemImage(const QTreeWidgetItem* item, int* image) const {
    if (item == nullptr) {
        return false;
    }
    QVariant value = item->data(0, kImageRole);
    if (!value.isValid()) {
        return false;
    }
    *image = value.toInt();
    return true;
}

std::uintptr_t CDragTreeView::GetItemData(const QTreeWidgetItem* item) const {
    return item == nullptr ? 0 : item->data(0, kDataRole).value<quintptr>();
}

void CDragTreeView::SetImageList(const QList<QIcon>& images) {
    m_images = images;
}

QTreeWidgetItem* CDragTreeView::GetDropHilightItem() const {
    return m_dropHilite.isValid() ? itemFromIndex(m_dropHilite) : nullptr;
}

void CDragTreeView::SelectDropTarget(QTreeWidgetItem* item) {
    QModelIndex old = m_dropHilite;
    m_dropHilite = QPersistentModelIndex(item != nullptr ? indexFromItem(item) : QModelIndex());
    if (old.isValid()) {
        viewport()->update(visualRect(old));
    }
    if (m_dropHilite.isValid()) {
        viewport()->update(visualRect(m_dropHilite));
    }
}

QWidget* CDragTreeView::DragImage() const {
    return m_pDragImage.get();
}

bool CDragTreeView::event(QEvent* event) {
    if (event->type() == WM_DRAGTREE_QUERY) {
        auto* e = static_cast<CDragTreeEvent*>(event);
        e->SetResult(OnDragTreeQuery(e->Info(), e->GlobalPos()) ? 1 : 0);
        return true;
    }
    if (event->type() == WM_DRAGTREE_DROP) {
        OnDrop(static_cast<CDragTreeEvent*>(event)->Info());
        return true;
    }
    return QTreeWidget::event(event);
}

bool CDragTreeView::eventFilter(QObject* watched, QEvent* event) {
    if (m_bDragging) {
        switch (event->type()) {
            case QEvent::MouseMove:
                // Every move of a drag carries the held button; one without it means the
                // release went elsewhere (a window manager or a dialog took the pointer).
                if (!(static_cast<QMouseEvent*>(event)->buttons() & Qt::LeftButton)) {
                    CancelDrag();
                }
                break;
            case QEvent::ShortcutOverride:
                // Escape belongs to the drag, not to a shortcut of the window.
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                    event->accept();
                    return true;
                }
                break;
            case QEvent::KeyPress:
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                    CancelDrag();
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return QTreeWidget::eventFilter(watched, event);
}

void CDragTreeView::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_pressIndex = QPersistentModelIndex(indexAt(event->position().toPoint()));
        m_pressPos = event->position().toPoint();
        SelectDropTarget(nullptr);
    }
}

void CDragTreeView::mouseMoveEvent(QMouseEvent* event) {
    if (m_bDragging) {
        // The source owns the mouse for the whole drag; the tree's own selection tracking
        // would otherwise follow the cursor.
        DragMove(event->globalPosition().toPoint());
        return;
    }
    QPoint pos = event->position().toPoint();
    if (m_pressIndex.isValid() && (event->buttons() & Qt::LeftButton) &&
        (pos - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        QTreeWidgetItem* item = itemFromIndex(m_pressIndex);
        m_pressIndex = QPersistentModelIndex();
        if (CanDragItem(item)) {
            BeginDrag(item, m_pressPos);
            DragMove(event->globalPosition().toPoint());
            return;
        }
    }
    QTreeWidget::mouseMoveEvent(event);
}

void CDragTreeView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) {
        return;
    }
    m_pressIndex = QPersistentModelIndex();
    if (m_bDragging) {
        Drop(event->globalPosition().toPoint());
    }
}

void CDragTreeView::drawBranches(QPainter* painter, const QRect& rect,
                                 const QModelIndex& index) const {
    painter->save();
    QPen pen(palette().color(QPalette::Dark));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    const int indent = indentation();
    const int mid = rect.center().y();
    // The column of this node: the last `indent` pixels of the branch area.
    int x = rect.right() + 1 - indent / 2;
    bool hasNext = index.sibling(index.row() + 1, 0).isValid();
    painter->drawLine(x, mid, rect.right() + 1 - 2, mid);
    painter->drawLine(x, index.row() == 0 && !index.parent().isValid() ? mid : rect.top(), x,
                      hasNext ? rect.bottom() : mid);
    // Columns of the ancestors that still have siblings below.
    for (QModelIndex a = index.parent(); a.isValid(); a = a.parent()) {
        x -= indent;
        if (a.sibling(a.row() + 1, 0).isValid()) {
            painter->drawLine(x, rect.top(), x, rect.bottom());
        }
    }
    painter->restore();
    // The expand buttons go over the lines.
    QTreeWidget::drawBranches(painter, rect, index);
}

void CDragTreeView::BeginDrag(QTreeWidgetItem* item, QPoint viewportPos) {
    SetItemBold(item, true);
    viewport()->repaint();

    // The drag image: the item's picture and text, drawn over the main window.
    QRect rect = visualItemRect(item);
    QPixmap pixmap(rect.size().isEmpty() ? QSize(16, 16) : rect.size());
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setOpacity(0.7);
        QIcon icon = item->icon(0);
        int x = 0;
        if (!icon.isNull()) {
            icon.paint(&painter, QRect(0, (pixmap.height() - 16) / 2, 16, 16));
            x = 19;
        }
        painter.setFont(item->font(0));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRect(x, 0, pixmap.width() - x, pixmap.height()), Qt::AlignVCenter,
                         item->text(0));
    }
    m_pDragImage = std::make_unique<QLabel>(DragSurface());
    m_pDragImage->setPixmap(pixmap);
    m_pDragImage->resize(pixmap.size());
    m_pDragImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_pDragImage->setAttribute(Qt::WA_TranslucentBackground);
    MoveDragImage(viewport()->mapToGlobal(viewportPos));
    m_pDragImage->show();
    m_pDragImage->raise();

    // No grab: while the button is held the window system sends every pointer event to the
    // pressed viewport, wherever the pointer is. A grab on the tree itself would take them
    // away from the viewport (the scroll area refuses mouse events), and Wayland refuses
    // grabs for windows that are not popups.
    m_hDragItem = item;
    m_bDragging = true;
    qApp->installEventFilter(this);
}

void CDragTreeView::DragMove(QPoint globalPos) {
    if (!m_bDragging || !m_pDragImage) {
        return;
    }
    m_lastDragPos = globalPos;
    MoveDragImage(globalPos);
    bool accepted = false;
    QWidget* target = DragTreeTargetAt(DragSurface(), globalPos);
    if (target != nullptr) {
        DRAGTREEINFO info{this, m_hDragItem, nullptr};
        CDragTreeEvent query(WM_DRAGTREE_QUERY, &info, globalPos);
        QCoreApplication::sendEvent(target, &query);
        accepted = query.Result() != 0;
        if (accepted && qobject_cast<CDragTreeView*>(target) != nullptr) {
            m_pAcceptingView = static_cast<CDragTreeView*>(target);
        }
    }
    SetDragCursor(accepted ? Qt::PointingHandCursor : Qt::ForbiddenCursor);
    UpdateAutoScroll(qobject_cast<CDragTreeView*>(target), globalPos);
}

void CDragTreeView::UpdateAutoScroll(CDragTreeView* view, QPoint globalPos) {
    if (AutoScrollDirection(view, globalPos) == 0) {
        m_autoScrollTimer.stop();
        m_pAutoScrollView = nullptr;
        return;
    }
    if (view != m_pAutoScrollView || !m_autoScrollTimer.isActive()) {
        m_pAutoScrollView = view;
        m_autoScrollTicks = 0;
        m_autoScrollTimer.start();
    }
}

void CDragTreeView::AutoScrollTick() {
    const int direction = m_bDragging ? AutoScrollDirection(m_pAutoScrollView, m_lastDragPos) : 0;
    if (direction == 0) {
        m_autoScrollTimer.stop();
        return;
    }
    // One row at a time at first, so that a near item can be aimed at, then faster for a
    // far one, but never so fast that the labels cannot be read: a bank in under 3 s.
    const int rows = std::min(1 + m_autoScrollTicks++ / 10, 3);
    for (int i = 0; i < rows; ++i) {
        m_pAutoScrollView->verticalScrollBar()->triggerAction(
            direction < 0 ? QAbstractSlider::SliderSingleStepSub
                          : QAbstractSlider::SliderSingleStepAdd);
    }
    // Another item is under the pointer now: ask the tree again.
    DragMove(m_lastDragPos);
}

void CDragTreeView::Drop(QPoint globalPos) {
    QTreeWidgetItem* item = m_hDragItem;
    EndDragFeedback();
    SetItemBold(item, false);
    viewport()->repaint();

    QPointer<QWidget> target = DragTreeTargetAt(DragSurface(), globalPos);
    if (target == nullptr) {
        return;
    }
    DRAGTREEINFO info{this, item, nullptr};
    CDragTreeEvent query(WM_DRAGTREE_QUERY, &info, globalPos);
    QCoreApplication::sendEvent(target, &query);
    if (query.Result() != 0 && target != nullptr) {
        // The drop runs to its end (transfers to the instrument included) before we return.
        CDragTreeEvent drop(WM_DRAGTREE_DROP, &info, globalPos);
        QPointer<CDragTreeView> self(this);
        m_bDropping = true;
        QCoreApplication::sendEvent(target, &drop);
        if (self != nullptr) {
            m_bDropping = false;
        }
    }
}

void CDragTreeView::CancelDrag() {
    QTreeWidgetItem* item = m_hDragItem;
    QPointer<CDragTreeView> highlighted = m_pAcceptingView;
    EndDragFeedback();
    SetItemBold(item, false);
    viewport()->repaint();
    // Nothing was dropped, so no tree may look as if it took the drop.
    if (highlighted != nullptr) {
        highlighted->SelectDropTarget(nullptr);
    }
}

void CDragTreeView::EndDragFeedback() {
    qApp->removeEventFilter(this);
    m_autoScrollTimer.stop();
    m_pAutoScrollView = nullptr;
    m_pDragImage.reset();
    if (m_bCursorOverridden) {
        QGuiApplication::restoreOverrideCursor();
        m_bCursorOverridden = false;
    }
    m_bDragging = false;
    m_hDragItem = nullptr;
    m_pAcceptingView = nullptr;
}

void CDragTreeView::SetItemBold(QTreeWidgetItem* item, bool bold) {
    QFont font = item->font(0);
    font.setBold(bold);
    item->setFont(0, font);
}

QWidget* CDragTreeView::DragSurface() const {
    return window();
}

void CDragTreeView::MoveDragImage(QPoint globalPos) {
    if (m_pDragImage) {
        QWidget* surface = m_pDragImage->parentWidget();
        m_pDragImage->move(surface->mapFromGlobal(globalPos) - kDragHotSpot);
    }
}

void CDragTreeView::SetDragCursor(Qt::CursorShape shape) {
    if (m_bCursorOverridden) {
        QGuiApplication::changeOverrideCursor(QCursor(shape));
    } else {
        QGuiApplication::setOverrideCursor(QCursor(shape));
        m_bCursorOverridden = true;
    }
}

bool CDragTreeView::OnDragTreeQuery(DRAGTREEINFO* info, QPoint globalPos) {
    info->hTargetItem = nullptr;
    QPoint pos = viewport()->mapFromGlobal(globalPos);
    SelectDropTarget(nullptr);
    QTreeWidgetItem* hit = viewport()->rect().contains(pos) ? itemAt(pos) : nullptr;
    if (hit == nullptr) {
        return false;
    }
    if (hit == info->hSourceItem && info->pSourceView == this) {
        return false;
    }
    int sourceImage = 0;
    int targetImage = 0;
    if (info->pSourceView == nullptr ||
        !info->pSourceView->GetItemImage(info->hSourceItem, &sourceImage)) {
        return false;
    }
    if (!GetItemImage(hit, &targetImage) || sourceImage != targetImage) {
        return false;
    }
    SelectDropTarget(hit);
    info->hTargetItem = hit;
    return true;
}

void CDragTreeView::OnDrop(DRAGTREEINFO*) {}

QWidget* DragTreeTargetAt(QWidget* surface, QPoint globalPos) {
    const QPoint pos = surface->mapFromGlobal(globalPos);
    if (!surface->rect().contains(pos)) {
        return nullptr;
    }
    // childAt passes over the drag image: it is transparent for the mouse.
    QWidget* widget = surface->childAt(pos);
    if (widget == nullptr) {
        return surface;
    }
    // The viewport, scroll bars and corner of a tree count as the tree itself.
    for (QWidget* w = widget; w != surface; w = w->parentWidget()) {
        if (auto* view = qobject_cast<CDragTreeView*>(w)) {
            return view;
        }
    }
    return widget;
}
