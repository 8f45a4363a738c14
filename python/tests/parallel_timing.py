"""Two effects run by one thread in turn against one thread each: the
measure of how well processing lets other threads run (the GIL is released
while an effect works). Shared by the tests and bench/python_bench.py."""

import threading
import timeit


def one_and_two_threads(effects, audio, rate, repeats):
    """Best seconds, over `repeats` runs, of one thread running every effect
    on `audio` in turn and of one thread per effect."""

    def one_thread():
        for effect in effects:
            effect(audio, rate)

    def one_thread_each():
        threads = [threading.Thread(target=effect, args=(audio, rate)) for effect in effects]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    return (min(timeit.repeat(one_thread, number=1, repeat=repeats)),
            min(timeit.repeat(one_thread_each, number=1, repeat=repeats)))
