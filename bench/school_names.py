#!/usr/bin/env python3
"""Pupils' names as a German school's directory holds them, for the benchmarks' generated trees:
"Surname Given", surnames drawn about as often as they occur, in no order (the order a school
adds them in is not the alphabet's), a name that comes again numbered as a school numbers it
("Müller Anna 2"). Deterministic for a seed.

    school_names.py COUNT [SEED]    one name a line, UTF-8
"""
import random
import sys

# Common surnames in Germany, the most frequent first (and drawn more often).
SURNAMES = """Müller Schmidt Schneider Fischer Weber Meyer Wagner Becker Schulz Hoffmann Schäfer Koch
Bauer Richter Klein Wolf Schröder Neumann Schwarz Zimmermann Braun Krüger Hofmann Hartmann Lange
Schmitt Werner Schmitz Krause Meier Lehmann Schmid Schulze Maier Köhler Herrmann König Walter Mayer
Huber Kaiser Fuchs Peters Lang Scholz Möller Weiß Jung Hahn Schubert Vogel Friedrich Keller Günther
Frank Berger Winkler Roth Beck Lorenz Baumann Franke Albrecht Schuster Simon Ludwig Böhm Winter Kraus
Martin Schumacher Krämer Vogt Stein Jäger Otto Sommer Groß Seidel Heinrich Brandt Haas Schreiber
Graf Schulte Dietrich Ziegler Kuhn Kühn Pohl Engel Horn Busch Bergmann Thomas Voigt Sauer Arnold
Wolff Pfeiffer Yılmaz Kaya Demir Şahin Çelik Nowak Kowalski Nguyen Popović Öztürk Ahmadi""".split()
GIVEN = """Anna Ben Emma Finn Lea Paul Mia Jonas Lina Noah Hannah Elias Sophie Leon Marie Luis Emilia
Felix Lena Maximilian Clara Henry Ella Luca Ida Theo Lilly Anton Leni Jakob Mila Oskar Frieda Emil
Greta Moritz Luisa Julian Nele Matteo Zoe Jonathan Charlotte David Amelie Tim Johanna Niklas Lara
Samuel Laura Alexander Sarah Leo Marlene Tom Malia Jan Ayşe Mehmet Zeynep Can Jörg Björn Jürgen
Lukas Käthe Søren Chiara Milan Ömer""".split()


def school_names(count, seed=23):
    rng = random.Random(seed)
    weights = [1.0 / (rank + 10) for rank in range(len(SURNAMES))]
    seen = {}
    names = []
    while len(names) < count:
        name = rng.choices(SURNAMES, weights)[0] + " " + rng.choice(GIVEN)
        times = seen.get(name, 0) + 1
        seen[name] = times
        names.append(name if times == 1 else f"{name} {times}")
    return names


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.stdout.buffer
    for n in school_names(int(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 23):
        out.write(n.encode() + b"\n")
