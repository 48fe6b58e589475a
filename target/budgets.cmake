# The chip image's budgets, checked by the post-link step on every build: a
# change that takes the image or its worst-case stack past them fails the build
# with the figure. They hold for the whole module as it lands on main.
set(SDCARD_IMAGE_BUDGET 7424)
set(SDCARD_STACK_BUDGET 320)  # bytes below main's caller, the module's own frames, in every image
set(SDCARD_READ_ONLY_IMAGE_BUDGET 5120) # the image without writes
set(SDCARD_GROWING_IMAGE_BUDGET 9216)   # the image that makes, grows and deletes files
# What the report allows for the deepest host service on top of the module's
# frames; the host's own figure is its business, this is for the report only.
set(SDCARD_HOST_SERVICE_STACK 128)
