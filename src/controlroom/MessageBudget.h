#pragma once

#include <QElapsedTimer>

// How many messages a socket may send: `perSecond` on average, `burst` at
// once. What goes beyond is dropped, so a flood costs the room no more than
// the budget (and the peers nothing).
class MessageBudget {
public:
    MessageBudget(double perSecond, double burst) : rate(perSecond), most(burst), tokens(burst) {
        clock.start();
    }

    // Whether one more message may be read now.
    bool take() {
        tokens = std::min(most, tokens + clock.restart() * rate / 1000.0);
        if (tokens < 1.0) return false;
        tokens -= 1.0;
        return true;
    }

private:
    double rate;
    double most;
    double tokens;
    QElapsedTimer clock;
};
