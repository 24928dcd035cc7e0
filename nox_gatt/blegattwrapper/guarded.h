// A value shared between the host's threads and the stack's, reached only
// while its own mutex is held: Lock() gives access for as long as what it
// returns lives, and there is no other way in, so no access can forget the
// lock.
#ifndef NOXB_BLEGATTWRAPPER_GUARDED_H
#define NOXB_BLEGATTWRAPPER_GUARDED_H

#include <mutex>

template <class T>
class Guarded {
  public:
    template <class U>
    class Access {
      public:
        Access(std::mutex& lock, U& guarded) : hold(lock), value(guarded) {}
        U& operator*() const { return value; }
        U* operator->() const { return &value; }

      private:
        std::lock_guard<std::mutex> hold;
        U& value;
    };

    Access<T> Lock() { return {mutex, value}; }
    Access<const T> Lock() const { return {mutex, value}; }

  private:
    mutable std::mutex mutex;
    T value;
};

#endif  // NOXB_BLEGATTWRAPPER_GUARDED_H
