"""Training side of the Quoribo gomoku engine: the network in PyTorch, the
network.bin reader and writer, teacher-game data and the trainer."""
