"""The project's reference findings server (token endpoint, upload, outbox) for tests and the demo."""
from .core import RefServer, Recorded, Reply  # noqa: F401
