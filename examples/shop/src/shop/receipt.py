def format_line(name, amount):
    return f"{name:<20}{amount:>8.2f}"
