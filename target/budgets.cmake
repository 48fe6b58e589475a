# The chip image's budgets, checked by the post-link step on every build: a
# change that takes the image or its worst-case stack past them fails the build
# with the figure. They hold for the whole module as it lands on main.
set(SDCARD_IMAGE_BUDGET 8192) # TEMPORARY while issues 19 and 20 land: 7424
set(SDCARD_STACK_BUDGET 320)  # bytes below main's caller, the module's own frames, in every image
set(SDCARD_GROWING_STACK_BUDGET 512) # TEMPORARY: 320
set(SDCARD_READ_ONLY_IMAGE_BUDGET 8192) # TEMPORARY: 5120, the image without writes
set(SDCARD_GROWING_IMAGE_BUDGET 16384)  # TEMPORARY: 9216, the image that makes, grows and deletes files
# What the report allows for the deepest host service on top of the module's
# frames; the host's own figure is its business, this is for the report only.
set(SDCARD_HOST_SERVICE_STACK 128)
