#include "playback/resume_search.h"

int64_t find_resume_step(const std::function<ResumeProbe(int64_t)>& probe, int64_t max_step) {
    if (max_step < 1) return 0;
    int64_t unreadable = 0;  // the failure itself
    int64_t bound = max_step + 1;  // the first interval known not to be unreadable
    ResumeProbe at_bound = ResumeProbe::End;
    int64_t last = 0;
    for (int64_t step = 1; step <= max_step;) {
        const ResumeProbe p = probe(step);
        last = step;
        if (p != ResumeProbe::Unreadable) {
            bound = step;
            at_bound = p;
            break;
        }
        unreadable = step;
        step = step < kResumeSteps ? step + 1 : step * 2;
    }
    // Between the last unreadable interval and the bound: halve until they meet.
    while (bound - unreadable > 1) {
        const int64_t middle = unreadable + (bound - unreadable) / 2;
        const ResumeProbe p = probe(middle);
        last = middle;
        if (p == ResumeProbe::Unreadable) {
            unreadable = middle;
        } else {
            bound = middle;
            at_bound = p;
        }
    }
    if (at_bound != ResumeProbe::Readable) return 0;
    if (last != bound && probe(bound) != ResumeProbe::Readable) return 0;
    return bound;
}
