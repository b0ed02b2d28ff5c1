#pragma once

// The process-wide busy-cursor counter: the busy cursor shows while at least
// one operation wants it, and the cursor from before the outermost one returns
// when the last one ends.
class THourGlass {
public:
    int Count() const { return FCount; }
    void SetCount(int value);
    void Increment() { SetCount(FCount + 1); }
    void Decrement() { SetCount(FCount - 1); }

private:
    int FCount = 0;
};

// The process-wide instance.
THourGlass& HourGlass();

// Increments HourGlass for its lifetime, so the decrement also runs on error.
class THourGlassScope {
public:
    THourGlassScope() { HourGlass().Increment(); }
    ~THourGlassScope() { HourGlass().Decrement(); }
    THourGlassScope(const THourGlassScope&) = delete;
    THourGlassScope& operator=(const THourGlassScope&) = delete;
};
