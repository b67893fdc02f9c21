#pragma once

#include <QEvent>
#include <QList>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include <cstdint>
#include <memory>

class QLabel;
class CDragTreeView;

// Sent synchronously (QCoreApplication::sendEvent) to the widget under the cursor while a tree
// item is dragged: a query on every move and once more at the release, then a drop when the
// last query was accepted.
constexpr QEvent::Type WM_DRAGTREE_QUERY = static_cast<QEvent::Type>(QEvent::User + 1000);
constexpr QEvent::Type WM_DRAGTREE_DROP = static_cast<QEvent::Type>(QEvent::User + 1001);

// Lives on the sender's stack for the duration of one send.
struct DRAGTREEINFO {
    CDragTreeView* pSourceView = nullptr;
    QTreeWidgetItem* hSourceItem = nullptr;
    // Filled in by a view that accepts the query; null otherwise.
    QTreeWidgetItem* hTargetItem = nullptr;
};

class CDragTreeEvent : public QEvent {
public:
    CDragTreeEvent(QEvent::Type type, DRAGTREEINFO* info, QPoint globalPos)
        : QEvent(type), m_info(info), m_globalPos(globalPos) {}
    DRAGTREEINFO* Info() const { return m_info; }
    // Where the cursor is, in global coordinates.
    QPoint GlobalPos() const { return m_globalPos; }
    // Nonzero when a query was accepted. A widget that does not know the event leaves it 0,
    // which refuses the drop.
    long Result() const { return m_result; }
    void SetResult(long result) { m_result = result; }

private:
    DRAGTREEINFO* m_info;
    QPoint m_globalPos;
    long m_result = 0;
};

// A tree whose items can be dragged with the left button onto items of the same tree or of
// another CDragTreeView. The source runs the drag with plain mouse events (no QDrag), so the
// protocol is the same whatever is under the cursor and tests can drive it with QTest. Every
// node carries an image index (its kind) and an integer data value. User-interface thread only.
class CDragTreeView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr QPoint kDragHotSpot{7, 7};
    // Where a node keeps its image index and its data value (column 0).
    static constexpr int kImageRole = Qt::UserRole + 1;
    static constexpr int kDataRole = Qt::UserRole + 2;

    explicit CDragTreeView(QWidget* parent = nullptr);
    ~CDragTreeView() override;

    virtual bool CanDragItem(QTreeWidgetItem* item) = 0;

    // Appends a node after the last child of `parent` (at the root when null).
    QTreeWidgetItem* InsertItem(const QString& text, int image, std::uintptr_t data,
                                QTreeWidgetItem* parent = nullptr);
    // False when the node has no image index.
    bool GetItemImage(const QTreeWidgetItem* item, int* image) const;
    std::uintptr_t GetItemData(const QTreeWidgetItem* item) const;
    // The pictures shown for the image indices, in index order.
    void SetImageList(const QList<QIcon>& images);
    const QList<QIcon>& ImageList() const { return m_images; }

    // The drop target highlight (null when none).
    QTreeWidgetItem* GetDropHilightItem() const;
    void SelectDropTarget(QTreeWidgetItem* item);

    bool IsDragging() const { return m_bDragging; }
    // True while a drop from this view runs (it may wait for the instrument); the window
    // holding the view must stay until it ends.
    bool IsDropping() const { return m_bDropping; }
    QTreeWidgetItem* DragItem() const { return m_hDragItem; }
    // The picture that follows the cursor during a drag; null otherwise.
    QWidget* DragImage() const;

protected:
    // InsertItem for a node made by the caller, of any QTreeWidgetItem type; the tree owns it.
    QTreeWidgetItem* AddNode(QTreeWidgetItem* node, int image, std::uintptr_t data,
                             QTreeWidgetItem* parent);

    bool event(QEvent* event) override;
    // Installed on the application while a drag runs: the end of the button and Escape
    // count wherever the pointer and the focus are.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Dotted lines join the nodes, the way a tree with lines shows them.
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

    // The answer to WM_DRAGTREE_QUERY: accept (highlight the target, fill it in) or refuse.
    virtual bool OnDragTreeQuery(DRAGTREEINFO* info, QPoint globalPos);
    // WM_DRAGTREE_DROP after an accepted query; info->hTargetItem is an item of this view.
    // Does nothing here: only views that write somewhere take drops.
    virtual void OnDrop(DRAGTREEINFO* info);

private:
    void BeginDrag(QTreeWidgetItem* item, QPoint viewportPos);
    void DragMove(QPoint globalPos);
    void Drop(QPoint globalPos);
    // Ends the drag without a drop (Escape, or the button found up without a release).
    void CancelDrag();
    void EndDragFeedback();
    void SetItemBold(QTreeWidgetItem* item, bool bold);
    // The top-level window of this view, which the drag image is drawn over and the target is
    // looked up in: the main window, since MDI windows are not windows of their own.
    QWidget* DragSurface() const;
    // Keeps the tree under the pointer scrolling while the pointer rests near its top or
    // bottom edge, so that a drop can reach items out of sight.
    void UpdateAutoScroll(CDragTreeView* view, QPoint globalPos);
    void AutoScrollTick();
    void MoveDragImage(QPoint globalPos);
    void SetDragCursor(Qt::CursorShape shape);

    // Members of the drag, all clear while idle.
    std::unique_ptr<QLabel> m_pDragImage;
    QTreeWidgetItem* m_hDragItem = nullptr;
    bool m_bDragging = false;
    // The last tree that accepted a query of this drag: it shows a highlight a cancel removes.
    QPointer<CDragTreeView> m_pAcceptingView;
    QPoint m_lastDragPos;  // global
    QTimer m_autoScrollTimer;
    QPointer<CDragTreeView> m_pAutoScrollView;
    int m_autoScrollTicks = 0;

    // The press that may turn into a drag once the mouse has moved far enough.
    QPersistentModelIndex m_pressIndex;  // survives the removal of the pressed node
    QPoint m_pressPos;
    bool m_bCursorOverridden = false;
    bool m_bDropping = false;

    QPersistentModelIndex m_dropHilite;
    QList<QIcon> m_images;
};

// The widget that receives the drag messages for a point on the screen: a tree view when the
// point is on any part of it (viewport, scroll bars), else whatever widget is there; null
// outside `surface`. The point is looked up within `surface`, the main window that the drag
// image is drawn over and whose MDI windows hold every bank tree: the drag never leaves it,
// and not every window system tells where top-level windows are (Wayland does not).
QWidget* DragTreeTargetAt(QWidget* surface, QPoint globalPos);
