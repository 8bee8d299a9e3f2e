"""Runs a peer's main function on a thread with a deep stack: the libraries
read and walk trees recursively, and trees a million deep need it."""
import sys
import threading
import traceback


def run(main):
    sys.setrecursionlimit(10_000_000)
    threading.stack_size(1 << 30)
    failed = []

    def guarded():
        try:
            main()
        except BaseException:
            failed.append(traceback.format_exc())

    worker = threading.Thread(target=guarded)
    worker.start()
    worker.join()
    if failed:
        sys.stderr.write(failed[0])
        sys.exit(1)
