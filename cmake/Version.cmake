# The one place the project's version is kept.
set(NOXB_VERSION 0.1.0)
