"""Descriptor expansion written straight from its rules, to check the
module's against. Raises ValueError("depth" / "unsupported" / "incomplete" /
"missing" / "invalid") where expansion fails."""


def reference_expand(sequences, descriptors):
    out, width = [], [0]

    def walk(items, depth):
        if depth > 64:
            raise ValueError("depth")
        i = 0
        while i < len(items):
            c = items[i]
            f, x, y = (c // 100000) % 256, (c % 100000) // 1000, (c % 1000) % 256
            if f == 0:
                if width[0] and x != 31:
                    out.append(999999)
                out.append(c)
                i += 1
            elif f == 1:
                if x == 0 or i + x >= len(items):
                    raise ValueError("unsupported")
                if y:
                    for _ in range(y):
                        walk(items[i + 1:i + 1 + x], depth + 1)
                    i += x + 1
                else:
                    if i + x + 1 >= len(items):
                        raise ValueError("incomplete")
                    walk(items[i + 1:i + x + 2], depth + 1)
                    i += x + 2
            elif f == 2:
                if x == 4:
                    width[0] = y
                elif x not in (1, 2, 6, 7, 8):
                    out.append(c)
                i += 1
            elif f == 3:
                if c not in sequences:
                    raise ValueError("missing")
                walk(sequences[c], depth + 1)
                i += 1
            else:
                raise ValueError("invalid")

    walk(descriptors, 0)
    return out
