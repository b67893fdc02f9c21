#pragma once

// The find across every open bank tree: the model's find over each window's catalogue, shown
// by filtering the trees (CTreeFilter) and listing the matches (CFindResultsView). It follows
// the windows as they open, close or change while a text is set.
//
// A tree that nobody can see (its window wholly covered by others, or minimised) is filtered
// when it comes into sight: before it paints, and when its window is raised, so that what a
// person sees and what the program then does with the tree always have the find applied.
// The counts and the results list are always up to date. User-interface thread only.

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/ProgramUseIndex.h"
#include "shell/ItemSources.h"
#include "shell/TreeFilter.h"

class CBankItemData;
class CFindResultsView;

class CFinder : public QObject {
    Q_OBJECT
public:
    struct Count {
        QString window;
        std::size_t matches = 0;
    };

    explicit CFinder(CItemSources& sources, QObject* parent = nullptr);
    ~CFinder() override;

    // The list the matches go to; may be set later, or never.
    void SetResultsView(CFindResultsView* results);

    // Filters the open trees to the items whose name holds `text`, letters in any case; an
    // empty text ends the find and restores the trees.
    void SetText(const QString& text);
    bool IsActive() const { return !m_text.isEmpty(); }
    // With it, a Program that matches brings along the Combinations of its window whose Int or
    // Both timbres play it.
    void SetWithUsers(bool on);
    bool WithUsers() const { return m_withUsers; }
    QString Text() const { return m_text; }

    // The windows with matches, in the results' order, and the sum.
    const std::vector<Count>& Counts() const { return m_counts; }
    std::size_t Total() const { return m_total; }
    // "12 matches: a.pcg 10, Workstation 2", or "No matches".
    QString CountsText() const;

signals:
    // The matches were found again.
    void Updated();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Tree {
        std::unique_ptr<CTreeFilter> filter;
        std::vector<std::uint32_t> matches;
        // Watched for coming into sight: the window and the tree's viewport.
        QPointer<QObject> window;
        QPointer<QObject> viewport;
        bool pending = false;  // the tree does not show the matches yet
        // Which Combinations play which Programs, made when first needed for the catalogue of
        // this generation.
        bq::ProgramUseIndex uses;
        std::uint64_t usesGeneration = 0;
    };

    void Run();
    // The tree's matches in the source's catalogue, as the text and the option say.
    void Match(CItemSources::Source& source, Tree& tree);
    // Shows the matches in a tree that has come into sight.
    void ApplyPending(std::uint32_t source);
    void Unwatch(Tree& tree);
    void RestoreAll();
    void FillResults(const std::vector<CItemSources::Source*>& open);
    bool RefreshDragged(std::uint32_t source, CBankItemData* record, int image);

    CItemSources& m_sources;
    QPointer<CFindResultsView> m_results;
    QString m_text;
    std::string m_needle;        // the text as the names' bytes (Latin-1)
    bool m_unmatchable = false;  // the text has a character no name can hold
    bool m_withUsers = false;
    std::map<std::uint32_t, Tree> m_trees;  // by source
    std::vector<Count> m_counts;
    std::size_t m_total = 0;
    bool m_resultsPending = false;  // held back while a result is dragged
};
