"""What the stand-in SDK and dotenv packages were asked to do, in order, within one interpreter."""

events: list[tuple] = []
