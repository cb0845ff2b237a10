"""The PC's monotonic clock in seconds, read by the play around each
controller's run: JUnit's times, whatever the controllers' clocks do."""
import time

print(time.monotonic())
