# The soak: random command words typed into the real player at random moments. It must not hang,
# the sanitizers must find nothing, "exit" must end it with 1, and the terminal must come back.
import os
import random

WORDS = [b"next", b"before", b"0", b"3", b"7", b"49", b"ls", b"time", b"loop", b"shuffle",
         b"stop", b"help", b"n", b"b", b"-1", b"nonsense"]


def test_random_commands_at_random_moments(folder, player):
    seed = int(os.environ.get("KESTROVA_SOAK_SEED", random.randrange(1 << 32)))
    rng = random.Random(seed)
    # Tracks short enough that many end by themselves while the words arrive.
    folder(["t0.wav", "t2.wav"], seconds=0)
    p = player(folder(["t1.wav", "t3.wav"], seconds=2))
    p.expect(b"~$ ")
    commands = int(os.environ.get("KESTROVA_SOAK_COMMANDS", 100))
    for _ in range(commands):
        p.send(rng.choice(WORDS) + b"\n")
        # The moments are part of the input: words land anywhere in a track or between two.
        p.idle(rng.uniform(0, 0.4))
    # "help" may still want its word and "stop" its key before "exit" is read as a command.
    p.send(b"x\nexit\n")
    assert p.wait(60) == 1, f"seed {seed}"
    assert p.restored(), f"seed {seed}"
    print(f"soak: {commands} commands, seed {seed}")
