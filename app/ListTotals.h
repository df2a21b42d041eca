#pragma once
// What the downloads list adds up to, in words: the line under the list and
// the list's tab. A song is running while it downloads; it is still to come
// while it waits or downloads.
#include <array>
#include <optional>

#include <QString>

namespace app {

struct ListTotals {
    // Rows in each state, indexed by store::ListState.
    std::array<int, 5> states{};
    // The running songs' speeds added up; none while none has one yet.
    std::optional<double> speed;

    int waiting() const { return states[0]; }
    int running() const { return states[1]; }
    int finished() const { return states[2]; }
    int failed() const { return states[3]; }
    int stopped() const { return states[4]; }
    int all() const;
    // Waiting or running.
    int left() const { return waiting() + running(); }
};

// "共 10 首：已完成 3 首，还剩 5 首（正在下载 2 首），失败 1 首，已停止 1 首　总速度 1.2 MB/s";
// the parts that count nothing are left out, the speed while no song runs.
QString listTotalsText(const ListTotals& totals);
// "下载列表 (2/7)" while songs are still to come: running / still to come;
// "下载列表" otherwise. Padded as the tab's text always was.
QString listTabText(const ListTotals& totals);

}  // namespace app
